// Must not build: the base is below every layer.
#include "module/module_heap.h"
