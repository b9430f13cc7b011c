// Must not build: the COM framework is generic over the class it hosts; it
// never names the product.
#include "installer/install_korvex.h"
