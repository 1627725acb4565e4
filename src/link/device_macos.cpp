// macOS specifics of the port: nodes found by listing, writes in 64-byte pieces with drains,
// an advisory lock on the port, and the two-level lock directory.
#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "link/Device.h"
#include "link/DevicePlatform.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/Text.h"

namespace {

// Visits every listed node in listing order; stops when visit returns true.
template <typename Visit>
bool ForEachNode(Visit visit) {
    glob_t listing{};
    const std::string pattern = DeviceNodeGlob();
    bool found = false;
    if (glob(pattern.c_str(), 0, nullptr, &listing) == 0) {
        for (std::size_t i = 0; i < listing.gl_pathc && !found; ++i) {
            found = visit(listing.gl_pathv[i]);
        }
    }
    globfree(&listing);
    return found;
}

// The port number of a listed node under the pattern; false when it does not match.
bool PortOfNode(const char* node, int* port) {
    const std::string pattern = DevicePattern();
    return std::sscanf(node, pattern.c_str(), port) == 1;
}

}  // namespace

void EnsureLockDirectory(const std::string& dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) return;
    const std::size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0) mkdir(dir.substr(0, slash).c_str(), 0755);
    mkdir(dir.c_str(), 0755);
}

bool TakePortLock(int descriptor) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(descriptor, F_SETLK, &lock) == 0;
}

int FindDevice(int port) {
    if (port != -1) return DoFindDevice(port);
    return ForEachNode([](const char* node) {
        int n = -1;
        return PortOfNode(node, &n) && DoFindDevice(n) == 1;
    })
               ? 1
               : 0;
}

int DeviceWriteData(const void* buffer, int length, int drain) {
    CAutoCriticalSection access(g_AccessCriticalSection);
    if (g_hDevice == -1 || buffer == nullptr || length <= 0) return 0;
    const int fd = static_cast<int>(g_hDevice);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    int count = 0;
    while (count < length) {
        // Every wait gets a fresh write budget.
        const std::int64_t deadline =
            MonotonicNanos() + static_cast<std::int64_t>(g_nDeviceWriteTimeout) * 1000000;
        if (!WaitReady(fd, POLLOUT, deadline)) return 0;
        const int piece = length - count < 64 ? length - count : 64;
        ssize_t n = write(fd, bytes + count, static_cast<size_t>(piece));
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                SleepEx(10);
                continue;
            }
            if (errno == EIO || errno == ENXIO || errno == ENODEV) NoteDeviceHangUp();
            return count;
        }
        count += static_cast<int>(n);
        if (n < 64) tcdrain(fd);
    }
    if (drain != 0) tcdrain(fd);
    return length;
}

bool DeviceIsAlive() {
    if (DeviceHungUp()) return false;
    return ForEachNode([](const char* node) {
        char line[512];
        std::snprintf(line, sizeof line, "%s", node);
        StringTrim(line);
        return DeviceCheckPath(line);
    });
}
