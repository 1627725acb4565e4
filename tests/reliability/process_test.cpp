// Several processes and one simulator: two racing for the port, one killed while it holds the
// port, one killed while it streams. The other processes are tolvan_port_claimer; they find the
// test's devices and lock files through the environment the fixture sets.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "support/DeviceFixture.h"
#include "tolvan.h"

namespace {

using std::chrono::milliseconds;

// A child process whose standard output the test reads line by line.
class Claimer {
  public:
    Claimer(const char* timeoutMs, const char* mode, const char* holdMs = "60000") {
        int fds[2];
        if (pipe(fds) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            execl(TOLVAN_PORT_CLAIMER, TOLVAN_PORT_CLAIMER, "0", timeoutMs, mode, holdMs,
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        m_out = fds[0];
    }
    ~Claimer() {
        Kill();
        if (m_out >= 0) close(m_out);
    }

    // The next line of output; "" when none came within the timeout or the process ended.
    std::string Line(milliseconds timeout = milliseconds(15000)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (true) {
            const auto nl = m_buffer.find('\n');
            if (nl != std::string::npos) {
                std::string line = m_buffer.substr(0, nl);
                m_buffer.erase(0, nl + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || m_out < 0) return "";
            pollfd p{m_out, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
            char chunk[256];
            const ssize_t n = read(m_out, chunk, sizeof chunk);
            if (n <= 0) return "";
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

    void Kill() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

  private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_buffer;
};

class ProcessTest : public DeviceFixture {};

TEST_F(ProcessTest, TwoProcessesRaceForOnePortAndExactlyOneWins) {
    StartDevice();
    Claimer first("2500", "hold");
    Claimer second("2500", "hold");
    const std::string a = first.Line();
    const std::string b = second.Line();
    const std::vector<std::string> outcomes = {a, b};
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), "connected"), 1) << a << " / " << b;
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), "refused"), 1) << a << " / " << b;
    // This process is refused too while the winner lives, and gets the port once it is gone.
    EXPECT_FALSE(TOLVConnect(0, 800));
    first.Kill();
    second.Kill();
    EXPECT_TRUE(TOLVConnect(0, 5000));
}

TEST_F(ProcessTest, ThePortOfAKilledProcessIsTakenOverFromItsStaleLock) {
    StartDevice();
    Claimer holder("5000", "hold");
    ASSERT_EQ(holder.Line(), "connected");
    holder.Kill();
    ASSERT_EQ(access(LockPath(0).c_str(), F_OK), 0) << "a killed process leaves its lock file";
    ASSERT_TRUE(TOLVConnect(0, 5000));
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 50);
}

TEST_F(ProcessTest, AProcessKilledWhileStreamingLeavesADeviceTheNextOneDrives) {
    auto& device = StartDevice();
    Claimer player("5000", "stream");
    ASSERT_EQ(player.Line(), "connected");
    ASSERT_EQ(player.Line(), "streaming");
    ASSERT_TRUE(device.WaitForPackets(5, milliseconds(5000)));
    player.Kill();

    ASSERT_TRUE(TOLVConnect(0, 5000));
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 50) << "a command after the dead stream";
    device.ClearDecoded();
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
    ASSERT_TRUE(device.WaitForPackets(10, milliseconds(5000)));
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    const auto stats = device.Stats();
    EXPECT_TRUE(stats.errors.empty()) << stats.errors.front();
    EXPECT_EQ(stats.truncatedPackets, 0u);
}

}  // namespace
