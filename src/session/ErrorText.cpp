// TOLVGetLastErrorText: the reason behind the last failed connection attempt, for a person.
#include <cstdio>
#include <string>

#include "platform/LastError.h"
#include "platform/NoThrow.h"
#include "tolvan.h"

extern "C" {

TOLV_API const char* TOLVGetLastErrorText(void) {
    // Each thread reads its own copy, so that a text being replaced by a library thread (the
    // connect thread records every failed search pass) never changes under a reader.
    thread_local char text[512];
    return NoThrow<const char*>(text, [] {
        std::snprintf(text, sizeof text, "%s", LastErrorText().c_str());
        return text;
    });
}

}  // extern "C"
