// Must not build: the registrar runs without a server module; its allocator
// comes from the caller.
#include "module/server_module.h"
