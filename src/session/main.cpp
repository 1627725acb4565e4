// The exported entry points of the session.
#include "tolvan.h"

extern "C" {

TOLV_API const char* TOLVGetSDKVersion(void) {
    return "1.2.5.5";
}

}  // extern "C"
