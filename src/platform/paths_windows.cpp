#include "platform/Environment.h"

// Windows finds the simulator through the USB device list; the pattern only names test
// ports, and no lock files are used.
const char* DefaultDevicePattern() {
    return "COM%d";
}
const char* DefaultLockDir() {
    return "";
}
const char* LockFileNamePattern() {
    return "quillon.ACM%d.lock";
}
