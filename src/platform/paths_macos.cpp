#include "platform/Environment.h"

const char* DefaultDevicePattern() {
    return "/dev/cu.usbmodem%d";
}
const char* DefaultLockDir() {
    return "/private/var/quillon/lock";
}
const char* LockFileNamePattern() {
    return "quillon.ACM%d.lock";
}
