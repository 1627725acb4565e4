// Linux specifics of the port: node scan, writes, liveness by listing the nodes.
#include <errno.h>
#include <glob.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "link/Device.h"
#include "link/DevicePlatform.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/Text.h"

void EnsureLockDirectory(const std::string& dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) mkdir(dir.c_str(), 0755);
}

bool TakePortLock(int) {
    return true;
}

int FindDevice(int port) {
    if (port != -1) return DoFindDevice(port);
    for (int n = 0; n <= kMaxScannedPort; ++n) {
        if (DoFindDevice(n) == 1) return 1;
    }
    return 0;
}

int DeviceWriteData(const void* buffer, int length, int /*drain: no effect on Linux*/) {
    CAutoCriticalSection access(g_AccessCriticalSection);
    if (g_hDevice == -1 || buffer == nullptr || length <= 0) return 0;
    const int fd = static_cast<int>(g_hDevice);
    const std::int64_t deadline =
        MonotonicNanos() + static_cast<std::int64_t>(g_nDeviceWriteTimeout) * 1000000;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    int count = 0;
    while (count < length) {
        if (!WaitReady(fd, POLLOUT, deadline)) return 0;
        ssize_t n = write(fd, bytes + count, static_cast<size_t>(length - count));
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
    }
    return length;
}

bool DeviceIsAlive() {
    if (DeviceHungUp()) return false;
    const std::string pattern = DeviceNodeGlob();
    glob_t listing{};
    if (glob(pattern.c_str(), 0, nullptr, &listing) != 0) {
        globfree(&listing);
        return false;
    }
    bool alive = false;
    char line[512];
    for (std::size_t i = 0; i < listing.gl_pathc && !alive; ++i) {
        std::string entry(listing.gl_pathv[i]);
        if (entry.size() >= sizeof line) continue;
        entry.copy(line, entry.size());
        line[entry.size()] = '\0';
        StringTrim(line);
        alive = DeviceCheckPath(line);
    }
    globfree(&listing);
    return alive;
}
