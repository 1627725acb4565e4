// The tolvan-vdev command line, run as a child process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Packets.h"
#include "SerialClient.h"
#include "vdev/VirtualDeviceFixture.h"

namespace {

using namespace std::chrono_literals;
using vdev::Bytes;

// A running tolvan-vdev with its standard output and error on pipes.
class Tool {
  public:
    explicit Tool(const std::vector<std::string>& args) {
        int out[2];
        if (pipe(out) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(out[1], STDERR_FILENO);
            close(out[0]);
            close(out[1]);
            // A cross build starts the tool under the target's emulator (words of the launcher).
            std::vector<std::string> command;
            std::istringstream launcher(TOLVAN_VDEV_LAUNCHER);
            for (std::string word; launcher >> word;) command.push_back(word);
            command.push_back(TOLVAN_VDEV_TOOL);
            command.insert(command.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (auto& word : command) argv.push_back(word.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        m_out = out[0];
        fcntl(m_out, F_SETFL, fcntl(m_out, F_GETFL) | O_NONBLOCK);
    }
    ~Tool() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) close(m_out);
    }

    // Output so far, waiting up to the budget for `until` to appear (empty: for the exit).
    std::string Output(const std::string& until, std::chrono::milliseconds budget) {
        const auto end = std::chrono::steady_clock::now() + budget;
        while (std::chrono::steady_clock::now() < end) {
            char buffer[4096];
            const ssize_t n = read(m_out, buffer, sizeof buffer);
            if (n > 0) {
                m_text.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0 && until.empty()) break;
            if (!until.empty() && m_text.find(until) != std::string::npos) break;
            std::this_thread::sleep_for(5ms);
        }
        return m_text;
    }

    // Sends the signal and returns the exit status (-1 when it did not end in time).
    int Finish(int signal, std::chrono::milliseconds budget) {
        if (signal != 0) kill(m_pid, signal);
        const auto end = std::chrono::steady_clock::now() + budget;
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                Output("", 500ms);
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(5ms);
        }
        return -1;
    }

  private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_text;
};

TEST(VirtualDeviceTool, HelpDocumentsEveryOption) {
    Tool tool({"--help"});
    EXPECT_EQ(tool.Finish(0, 5000ms), 0);
    const std::string help = tool.Output("", 100ms);
    for (const char* option :
         {"--port", "--preset", "--pattern", "--csv", "--fast-ack", "--gap", "--serial", "--trace",
          "--help", "old", "current", "ppg2012", "ppg2112", "resp"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

TEST(VirtualDeviceTool, RejectsBadArguments) {
    const std::vector<std::vector<std::string>> cases = {
        {"--preset", "newest"}, {"--port", "x"}, {"--gap", "0"}, {"--frobnicate"}, {"--csv"}};
    for (const auto& args : cases) {
        Tool tool(args);
        EXPECT_EQ(tool.Finish(0, 5000ms), 2) << args[0];
        EXPECT_NE(tool.Output("", 100ms).find("tolvan-vdev:"), std::string::npos) << args[0];
    }
}

TEST(VirtualDeviceTool, ServesTheNodeWritesCsvAndCleansUpOnSignal) {
    vdev::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string node = dir.path() + "/ttyACM4";
    const std::string csv = dir.path() + "/out.csv";
    Tool tool({"--port", "4", "--preset", "ppg2112", "--pattern", dir.path() + "/ttyACM%d", "--csv",
               csv, "--fast-ack", "--serial", "4660"});
    const std::string banner = tool.Output(node, 5000ms);
    ASSERT_NE(banner.find("preset ppg2112 on port 4: " + node), std::string::npos) << banner;

    {
        vdevtest::SerialClient client(node);
        ASSERT_TRUE(client.ok());
        const Bytes identify = client.Exchange({0x55, 0x00, 0x00}, 12);
        ASSERT_EQ(identify.size(), 12u);
        EXPECT_EQ(identify[10], 0x12);  // serial 4660 = 0x1234
        EXPECT_EQ(identify[11], 0x34);
        ASSERT_TRUE(client.Write(vdevtest::EcgPacket(0, 32767, 0.5)));
        EXPECT_EQ(client.Read(64, 2000ms).size(), 64u);
        ASSERT_TRUE(client.Write(vdevtest::EcgPacket(50, 32767, -0.25)));
        EXPECT_EQ(client.Read(64, 2000ms).size(), 64u);
    }

    EXPECT_EQ(tool.Finish(SIGTERM, 5000ms), 0);
    struct stat st {};
    EXPECT_NE(lstat(node.c_str(), &st), 0) << "node left behind";
    EXPECT_NE(tool.Output("", 100ms).find("2 stream packets, 1400 samples, 0 stream errors"),
              std::string::npos);

    std::ifstream in(csv);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 1401u);
    EXPECT_EQ(lines[0].rfind("sample,operate_mode,dc_code,ac_code,dc_mV,ac_mV,pacing", 0), 0u);
    EXPECT_EQ(lines[1].rfind("0,3,32767,800,", 0), 0u) << lines[1];
    EXPECT_EQ(lines[1400].rfind("1399,3,32767,-400,", 0), 0u) << lines[1400];
}

TEST(VirtualDeviceTool, InterruptRemovesTheNodeToo) {
    vdev::TempDir dir;
    const std::string node = dir.path() + "/ttyACM0";
    Tool tool({"--pattern", dir.path() + "/ttyACM%d"});
    ASSERT_NE(tool.Output(node, 5000ms).find(node), std::string::npos);
    struct stat st {};
    EXPECT_EQ(lstat(node.c_str(), &st), 0);
    EXPECT_EQ(tool.Finish(SIGINT, 5000ms), 0);
    EXPECT_NE(lstat(node.c_str(), &st), 0);
}

}  // namespace
