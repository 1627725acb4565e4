// What the Linux and macOS variants of the port code provide to the shared POSIX code.
#pragma once

#include <string>

// Creates the lock directory when it does not exist (Linux: the directory itself; macOS: its
// parent too), mode 0755.
void EnsureLockDirectory(const std::string& dir);
// Takes whatever per-descriptor lock the platform adds to the lock file (macOS: an advisory
// write lock over the whole port). False when refused.
bool TakePortLock(int descriptor);
