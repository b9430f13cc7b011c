// Must not build: a page's install in the host runs no script; it sees the
// host's text and system rooms, never the script bridge.
#include "tools/qxhost/script/dispatch_bridge.h"
