// What the Linux and macOS variants of the port code provide to the shared POSIX code.
#pragma once

#include <cstdint>
#include <string>

// Creates the lock directory when it does not exist (Linux: the directory itself; macOS: its
// parent too), mode 0755.
void EnsureLockDirectory(const std::string& dir);
// Takes whatever per-descriptor lock the platform adds to the lock file (macOS: an advisory
// write lock over the whole port). False when refused.
bool TakePortLock(int descriptor);

// Waits for the descriptor to become ready for `events` (POLLIN, POLLOUT) until the monotonic
// deadline. True when ready; false on a timeout or an error. Shared by every POSIX variant.
bool WaitReady(int fd, short events, std::int64_t deadlineNs);
