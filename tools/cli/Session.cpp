// Connecting for a command: an optional virtual simulator, the connect with progress, the
// session without a device.
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Cli.h"
#include "tolvan.h"

namespace cli {
namespace {

pid_t s_vdev = -1;
std::string s_vdevDir;

bool Executable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

// tolvan-vdev beside this program (installed), in the build tree, else on the PATH.
std::string FindVdev() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        std::string dir(self);
        dir = dir.substr(0, dir.rfind('/'));
        for (const char* candidate : {"/tolvan-vdev", "/../virtual-device/tolvan-vdev"}) {
            if (Executable(dir + candidate)) return dir + candidate;
        }
    }
    return "tolvan-vdev";
}

void StopVdev() {
    if (s_vdev > 0) {
        kill(s_vdev, SIGINT);
        waitpid(s_vdev, nullptr, 0);
        s_vdev = -1;
    }
    if (!s_vdevDir.empty()) {
        const std::string out = s_vdevDir + "/out";
        if (std::FILE* said = std::fopen(out.c_str(), "r")) {
            char line[1024];
            while (std::fgets(line, sizeof line, said) != nullptr) {
                if (std::strstr(line, "tolvan-vdev: wrote") == line ||
                    std::strstr(line, "clipped") != nullptr) {
                    std::fputs(line, stdout);
                }
            }
            std::fclose(said);
        }
        unlink(out.c_str());
        const std::string lock = s_vdevDir + "/quillon.ACM0.lock";
        unlink(lock.c_str());
        rmdir(s_vdevDir.c_str());
        s_vdevDir.clear();
    }
}

bool StartVdev(const Connection& connection) {
    char dir[] = "/tmp/tolvan-vdev-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        std::fprintf(stderr, "tolvan: cannot create a directory for the virtual simulator\n");
        return false;
    }
    s_vdevDir = dir;
    const std::string pattern = s_vdevDir + "/ttyACM%d";
    setenv("TOLVAN_DEVICE_PATTERN", pattern.c_str(), 1);
    setenv("TOLVAN_LOCK_DIR", dir, 1);
    const std::string tool = FindVdev();
    std::vector<std::string> args = {tool, "--port", "0", "--preset", connection.vdevPreset};
    for (const std::string& csv : connection.vdevCsv) {
        args.push_back("--csv");
        args.push_back(csv);
    }
    if (connection.vdevAnnotations) args.push_back("--annotations");
    if (!connection.vdevMerge.empty()) {
        args.push_back("--merge-annotations");
        args.push_back(connection.vdevMerge);
    }
    s_vdev = fork();
    if (s_vdev == 0) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        // What it says goes to a file: the lines about the files it wrote are shown when it
        // has stopped.
        const std::string out = s_vdevDir + "/out";
        if (std::freopen(out.c_str(), "w", stdout) == nullptr) _exit(127);
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "tolvan: cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    const std::string node = s_vdevDir + "/ttyACM0";
    for (int i = 0; i < 100; ++i) {
        struct stat st;
        if (lstat(node.c_str(), &st) == 0) return true;
        int status = 0;
        if (waitpid(s_vdev, &status, WNOHANG) == s_vdev) {
            s_vdev = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fprintf(stderr, "tolvan: the virtual simulator (%s) did not start\n", tool.c_str());
    StopVdev();
    return false;
}

}  // namespace

int Connect(const Connection& connection) {
    int port = connection.port;
    if (!connection.vdevPreset.empty()) {
        if (!StartVdev(connection)) return kNoSimulator;
        port = 0;
    }
    std::atomic<bool> done{false};
    bool connected = false;
    std::thread worker([&] {
        connected = TOLVConnect(port, connection.timeoutMs);
        done = true;
    });
    // A connect can take seconds (a calibration table moved in the simulator's flash takes about
    // 12 s): show that something happens when a person watches.
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const auto start = std::chrono::steady_clock::now();
    while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (terminal && seconds >= 0.5) {
            std::fprintf(stderr, "\rconnecting to %s ... %.0f s of %.0f s ",
                         port < 0 ? "every port" : ("port " + std::to_string(port)).c_str(),
                         seconds, connection.timeoutMs / 1000.0);
        }
    }
    worker.join();
    if (terminal) std::fprintf(stderr, "\r\033[K");
    if (!connected) {
        std::fprintf(stderr, "tolvan: no simulator: %s\n", TOLVGetLastErrorText());
        if (connection.vdevPreset.empty()) {
            std::fprintf(stderr,
                         "tolvan: without a simulator: --vdev starts a virtual one for the "
                         "run; play --offline plays on the library's timer\n");
        }
        StopVdev();
        return kNoSimulator;
    }
    return kOk;
}

void Disconnect() {
    TOLVFree();
    StopVdev();
}

void StartOffline() {
    // Point the search at a node that cannot exist, so that no simulator is taken.
    setenv("TOLVAN_DEVICE_PATTERN", "/nonexistent/tolvan-offline/ttyACM%d", 1);
    TOLVInit([](bool) {});
}

}  // namespace cli
