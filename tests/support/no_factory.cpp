// A library that loads but does not offer the vendor's factory.
#include "qir_sys/abi.h"

extern "C" QIR_SYS_EXPORT int NotTheFactory() {
    return 0;
}
