#include "platform/Environment.h"

const char* DefaultDevicePattern() {
    return "/dev/ttyACM%d";
}
const char* DefaultLockDir() {
    return "/var/lock";
}
const char* LockFileNamePattern() {
    return "quillon.ACM%d.lock";
}
