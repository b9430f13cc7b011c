// Must not build: the platform's test controls are for tests and hosts, never
// the product.
#include "qxplatform/controls.h"
