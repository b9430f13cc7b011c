// Must not build: the server module knows class objects only through the object
// map's creators.
#include "com/object_shapes.h"
