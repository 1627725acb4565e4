// The serial port on Linux and macOS: lock file, terminal set-up, budgeted reads and writes.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "link/Device.h"
#include "link/DevicePlatform.h"
#include "link/Monitor.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/LastError.h"

std::atomic<std::int64_t> g_hDevice{-1};
unsigned g_nDeviceReadTimeout = 100;
unsigned g_nDeviceWriteTimeout = 200;
CSimpleCriticalSection g_AccessCriticalSection;

namespace {

// Guards the path and lock-file state below. A leaf lock: nothing is called while it is held.
// Touched by the connect thread (find, close), the hot-plug monitor (liveness) and API calls.
// Never destroyed: the hot-plug monitor thread may still probe the path while the process exits.
struct PathState {
    std::mutex mutex;
    std::string devicePath;    // node of the identified port
    std::string lockFilePath;  // lock file this process holds
    int lockFile = -1;
};
PathState& Paths() {
    static auto* state = new PathState;
    return *state;
}

// The group that owns a node, for the permission hint ("dialout" when it cannot be told).
std::string NodeGroup(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return "dialout";
    group entry;
    group* found = nullptr;
    char buffer[1024];
    if (getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr ||
        st.st_gid == 0) {
        return "dialout";
    }
    return found->gr_name;
}

void NoteOpenFailure(const std::string& path, int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            NotePortRefusal(PortRefusal::kNoNode, path);
            return;
        case EACCES:
        case EPERM:
            NotePortRefusal(PortRefusal::kPermission,
                            "permission denied (add yourself to " + NodeGroup(path) + "): " + path);
            return;
        case EBUSY:
            NotePortRefusal(PortRefusal::kOther, "port busy: " + path);
            return;
        default:
            NotePortRefusal(PortRefusal::kOther,
                            "cannot open " + path + ": " + std::strerror(error));
    }
}

// Ports opened by the search; written under g_AccessCriticalSection.
std::atomic<std::uint64_t> s_connection{0};
std::atomic<bool> s_bHungUp{false};

int Descriptor() {
    return static_cast<int>(g_hDevice);
}

void ConfigureTerminal(int fd) {
    termios tio;
    if (tcgetattr(fd, &tio) != 0) return;
    tio.c_iflag |= IGNPAR;
    tio.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IXON);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST | ONLCR);
    tio.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
    tio.c_lflag = 0;
    tio.c_cc[VEOF] = 4;
    cfsetospeed(&tio, B115200);
    tcsetattr(fd, TCSANOW, &tio);
}

}  // namespace

// Waits (poll, repeated after a signal) for the descriptor to become ready for `events` within the
// budget. True when ready.
bool WaitReady(int fd, short events, std::int64_t deadlineNs) {
    for (;;) {
        int ms = MillisecondsUntil(deadlineNs);
        if (ms == 0) return false;
        pollfd p{fd, events, 0};
        int rc = poll(&p, 1, ms);
        if (rc > 0) return true;
        if (rc == 0) return false;
        if (errno != EINTR) return false;
    }
}

int DeviceConnect(int port, int tries) {
    for (int i = 0; i < tries; ++i) {
        BeginSearchPass();
        if (FindDevice(port) == 1) {
            ClearLastErrorText();
            return 1;
        }
        SetLastErrorText(SearchPassReason());
        if (SearchPause(1000)) return 0;
    }
    return 0;
}

int DoFindDevice(int n) {
    const std::string path = DevicePathForPort(n);
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        NoteOpenFailure(path, errno);
        return 0;
    }
    {
        CAutoCriticalSection access(g_AccessCriticalSection);
        g_hDevice = fd;
        ++s_connection;
        s_bHungUp = false;
    }
    if (LockDeviceFile(n) != 1) {
        DeviceClose();
        return 0;
    }
    if (!TakePortLock(fd)) {
        NotePortRefusal(PortRefusal::kLocked, "port locked by another process: " + path);
        DeviceClose();
        return 0;
    }
    DeviceCancelIO();
    ConfigureTerminal(fd);
    if (IdentifyPort()) {
        std::lock_guard<std::mutex> lock(Paths().mutex);
        Paths().devicePath = path;
        return 1;
    }
    NotePortRefusal(PortRefusal::kNotSimulator, "not a TOLVAN simulator: " + path);
    DeviceClose();
    return 0;
}

void DeviceClose() {
    CAutoCriticalSection access(g_AccessCriticalSection);
    if (g_hDevice == -1) return;
    UnlockDevice();
    {
        std::lock_guard<std::mutex> lock(Paths().mutex);
        Paths().devicePath.clear();
    }
    close(Descriptor());
    g_hDevice = -1;
}

bool DeviceIsConnected() {
    return g_hDevice != -1;
}

std::uint64_t DeviceConnection() {
    return s_connection;
}

void DeviceCloseConnection(std::uint64_t connection) {
    CAutoCriticalSection access(g_AccessCriticalSection);
    if (s_connection == connection) DeviceClose();
}

void NoteDeviceHangUp() {
    if (!s_bHungUp.exchange(true)) ReconnectDevice();
}

bool DeviceHungUp() {
    return s_bHungUp;
}

bool DeviceCheckPath(const char* path) {
    if (path == nullptr) return false;
    std::lock_guard<std::mutex> lock(Paths().mutex);
    return !Paths().devicePath.empty() && Paths().devicePath == path;
}

std::string DevicePath() {
    std::lock_guard<std::mutex> lock(Paths().mutex);
    return Paths().devicePath;
}

std::string DeviceLockFilePath() {
    std::lock_guard<std::mutex> lock(Paths().mutex);
    return Paths().lockFilePath;
}

namespace {

// The wake-up of the idle read: a pipe whose read end becomes readable when a command wants the
// link. Created once and never closed (the poll thread may be in a read while the process ends).
struct IdleWake {
    int readEnd = -1;
    int writeEnd = -1;
    IdleWake() {
        int fds[2];
        if (pipe(fds) != 0) return;
        for (int fd : fds) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        readEnd = fds[0];
        writeEnd = fds[1];
    }
};
IdleWake& Wake() {
    static auto* wake = new IdleWake;
    return *wake;
}

enum class FirstByte { kReady, kWoken, kTimedOut };

// Waits for the port to become readable within the budget; with a wake-up descriptor, a wake-up
// ends the wait unless bytes are waiting on the port (data is never left behind for another
// reader because of a wake-up).
FirstByte WaitFirstByte(int fd, int wakeFd, std::int64_t deadlineNs) {
    if (wakeFd < 0)
        return WaitReady(fd, POLLIN, deadlineNs) ? FirstByte::kReady : FirstByte::kTimedOut;
    for (;;) {
        const int ms = MillisecondsUntil(deadlineNs);
        if (ms == 0) return FirstByte::kTimedOut;
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int rc = poll(p, 2, ms);
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return FirstByte::kTimedOut;
        if (p[0].revents != 0) return FirstByte::kReady;
        return FirstByte::kWoken;
    }
}

// Reads exactly length bytes within the read budget (see DeviceReadData); wakeFd >= 0 lets a
// wake-up end the read while no byte of it has come.
int ReadBudgeted(void* buffer, int length, int wakeFd) {
    CAutoCriticalSection access(g_AccessCriticalSection);
    if (g_hDevice == -1 || buffer == nullptr || length <= 0) return 0;
    const int fd = Descriptor();
    const std::int64_t deadline =
        MonotonicNanos() + static_cast<std::int64_t>(g_nDeviceReadTimeout) * 1000000;
    auto* bytes = static_cast<unsigned char*>(buffer);
    int count = 0;
    while (count < length) {
        const FirstByte ready = WaitFirstByte(fd, count == 0 ? wakeFd : -1, deadline);
        if (ready != FirstByte::kReady) return 0;
        ssize_t n = read(fd, bytes + count, static_cast<size_t>(length - count));
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                if (errno == EAGAIN) SleepEx(10);
                continue;
            }
            if (errno == EIO || errno == ENXIO || errno == ENODEV) NoteDeviceHangUp();
            return count;
        }
        if (n == 0) {  // readable yet end of file: the other side is gone
            NoteDeviceHangUp();
            return count;
        }
        count += static_cast<int>(n);
    }
    return length;
}

}  // namespace

int DeviceReadData(void* buffer, int length) {
    return ReadBudgeted(buffer, length, -1);
}

int DeviceReadIdle(void* buffer, int length) {
    return ReadBudgeted(buffer, length, Wake().readEnd);
}

void WakeIdleRead() {
    const unsigned char one = 1;
    if (Wake().writeEnd >= 0) {
        // A full pipe is already a pending wake-up.
        [[maybe_unused]] ssize_t n = write(Wake().writeEnd, &one, 1);
    }
}

void ClearIdleReadWake() {
    unsigned char drain[64];
    if (Wake().readEnd < 0) return;
    while (read(Wake().readEnd, drain, sizeof drain) > 0) {
    }
}

void DeviceCancelIO() {
    // Reads and writes are synchronous here; nothing is ever left outstanding on the port,
    // so there is nothing to cancel beyond what is queued in the driver.
    CAutoCriticalSection access(g_AccessCriticalSection);
    if (g_hDevice != -1) tcflush(Descriptor(), TCIOFLUSH);
}

int LockDeviceFile(int n) {
    const std::string dir = LockDir();
    EnsureLockDirectory(dir);
    const std::string path = LockFilePathForPort(n);
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            const std::int32_t pid = static_cast<std::int32_t>(getpid());
            if (write(fd, &pid, sizeof pid) == static_cast<ssize_t>(sizeof pid)) {
                std::lock_guard<std::mutex> lock(Paths().mutex);
                Paths().lockFile = fd;
                Paths().lockFilePath = path;
                return 1;
            }
            close(fd);
            unlink(path.c_str());
            NotePortRefusal(PortRefusal::kLockDirectory, "cannot write lock file " + path);
            return 0;
        }
        if (errno != EEXIST) {
            const int error = errno;
            NotePortRefusal(PortRefusal::kLockDirectory, "lock directory not writable: " + dir +
                                                             " (" + std::strerror(error) +
                                                             "; TOLVAN_LOCK_DIR names another)");
            return 0;
        }
        fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            NotePortRefusal(PortRefusal::kLocked, "port locked: cannot read lock file " + path);
            return 0;
        }
        std::int32_t owner = 0;
        ssize_t got = read(fd, &owner, sizeof owner);
        if (got < static_cast<ssize_t>(sizeof owner)) {
            close(fd);  // a short file is left in place and keeps the port locked
            NotePortRefusal(PortRefusal::kLocked,
                            "port locked by a lock file without a process id: " + path);
            continue;
        }
        // Only "no such process" makes a lock stale: a process of another user (EPERM) is
        // alive. Ids of 0 or below name no single process (kill would probe a group) and
        // are stale too.
        const bool alive = owner > 0 && (kill(static_cast<pid_t>(owner), 0) == 0 || errno == EPERM);
        close(fd);
        if (alive) {
            NotePortRefusal(PortRefusal::kLocked,
                            "port locked by process " + std::to_string(owner) + ": " +
                                DevicePathForPort(n) + " (lock file " + path + ")");
            return 0;
        }
        unlink(path.c_str());
    }
    return 0;
}

void UnlockDeviceFile() {
    std::lock_guard<std::mutex> lock(Paths().mutex);
    if (Paths().lockFile == -1) return;
    close(Paths().lockFile);
    Paths().lockFile = -1;
    unlink(Paths().lockFilePath.c_str());
    Paths().lockFilePath.clear();
}

void UnlockDevice() {
    UnlockDeviceFile();
    CAutoCriticalSection access(g_AccessCriticalSection);
    if (g_hDevice == -1) return;
    struct flock unlock {};
    unlock.l_type = F_UNLCK;
    unlock.l_whence = SEEK_SET;
    fcntl(Descriptor(), F_SETLK, &unlock);
}

void SetDeviceTimeoutSetting(unsigned readMs, unsigned writeMs) {
    CAutoCriticalSection access(g_AccessCriticalSection);
    g_nDeviceReadTimeout = readMs;
    g_nDeviceWriteTimeout = writeMs;
    if (g_hDevice == -1) return;
    const int fd = Descriptor();
    WaitReady(fd, POLLIN, MonotonicNanos() + static_cast<std::int64_t>(readMs) * 1000000);
    WaitReady(fd, POLLOUT, MonotonicNanos() + static_cast<std::int64_t>(writeMs) * 1000000);
}
