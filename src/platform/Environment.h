// Paths that tests and users may redirect through the environment. Both variables are read at
// every use, so a test can point the library at a virtual device at any time.
//
//   TOLVAN_DEVICE_PATTERN  printf pattern of the serial node of port n, with exactly one %d
//                          (and no other conversion but %%). Default: the platform's node
//                          pattern, "/dev/ttyACM%d" on Linux. A pattern that breaks these rules
//                          is ignored in favour of the default.
//   TOLVAN_LOCK_DIR        directory of the port lock files. Default: "/var/lock" on Linux.
#pragma once

#include <string>

// The platform defaults (one definition per platform).
const char* DefaultDevicePattern();
const char* DefaultLockDir();
// The lock-file name of port n inside the lock directory, e.g. "quillon.ACM%d.lock".
const char* LockFileNamePattern();

// True when the pattern holds exactly one %d and no other conversion than %%.
bool IsValidDevicePattern(const char* pattern);

// The device pattern in force (the environment's when valid, else the default).
std::string DevicePattern();
// The node path of port n under the pattern in force.
std::string DevicePathForPort(int port);
// The glob(3) pattern that lists every node of the pattern in force (%d becomes *).
std::string DeviceNodeGlob();
// The lock directory in force.
std::string LockDir();
// The lock file of port n: the lock directory, "/", and the lock-file name of port n.
std::string LockFilePathForPort(int port);
