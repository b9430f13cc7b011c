// The ObjectMap: the classes this library can create, ended by an entry
// whose class id is null.
#pragma once
#include "module/server_module.h"

ObjectMapEntry* ProductObjectMap();
