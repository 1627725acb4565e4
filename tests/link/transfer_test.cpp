#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

#include "link/Device.h"
#include "platform/Clock.h"

namespace {

// A pseudo-terminal whose slave is adopted as the open port.
class TransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        int slave = -1;
        ASSERT_EQ(openpty(&m_master, &slave, nullptr, nullptr, nullptr), 0);
        termios tio;
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
        CAutoCriticalSection access(g_AccessCriticalSection);
        g_hDevice = slave;
    }
    void TearDown() override {
        DeviceClose();
        if (m_master >= 0) close(m_master);
    }
    void Send(const std::vector<unsigned char>& bytes) {
        ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    int m_master = -1;
};

TEST_F(TransferTest, ReadReturnsTheWholeLengthWhenItArrivesInPieces) {
    std::thread device([this] {
        Send(std::vector<unsigned char>(20, 0x11));
        SleepEx(20);
        Send(std::vector<unsigned char>(44, 0x22));
    });
    unsigned char buffer[64] = {};
    EXPECT_EQ(DeviceReadData(buffer, 64), 64);
    device.join();
    EXPECT_EQ(buffer[0], 0x11);
    EXPECT_EQ(buffer[19], 0x11);
    EXPECT_EQ(buffer[20], 0x22);
    EXPECT_EQ(buffer[63], 0x22);
}

TEST_F(TransferTest, ReadOfWhichOnly40BytesArriveWithinTheBudgetReturnsZero) {
    Send(std::vector<unsigned char>(40, 0x33));
    unsigned char buffer[64];
    const auto start = MonotonicNanos();
    EXPECT_EQ(DeviceReadData(buffer, 64), 0);
    const auto ms = (MonotonicNanos() - start) / 1000000;
    EXPECT_GE(ms, 95);
    EXPECT_LT(ms, 10000) << "far above a busy machine's delays, far below a wait without end";
}

TEST_F(TransferTest, WriteDeliversEveryByte) {
    std::vector<unsigned char> packet(3200);
    for (std::size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<unsigned char>(i);
    std::vector<unsigned char> received;
    std::thread device([&] {
        unsigned char chunk[4096];
        while (received.size() < packet.size()) {
            ssize_t n = read(m_master, chunk, sizeof chunk);
            if (n <= 0) break;
            received.insert(received.end(), chunk, chunk + n);
        }
    });
    EXPECT_EQ(DeviceWriteData(packet.data(), 3200, 1), 3200);
    device.join();
    EXPECT_EQ(received, packet);
}

TEST_F(TransferTest, TransfersFailWhenNoPortIsOpenOrArgumentsAreBad) {
    unsigned char buffer[8] = {};
    EXPECT_EQ(DeviceReadData(nullptr, 8), 0);
    EXPECT_EQ(DeviceWriteData(buffer, 0, 0), 0);
    DeviceClose();
    EXPECT_FALSE(DeviceIsConnected());
    EXPECT_EQ(DeviceReadData(buffer, 8), 0);
    EXPECT_EQ(DeviceWriteData(buffer, 8, 0), 0);
}

TEST_F(TransferTest, ReadEndsWhenTheOtherSideGoesAway) {
    Send({1, 2, 3});
    close(m_master);
    m_master = -1;
    unsigned char buffer[64];
    EXPECT_LT(DeviceReadData(buffer, 64), 64);
}

TEST_F(TransferTest, CloseWaitsForATransferInFlight) {
    std::thread reader([] {
        unsigned char buffer[64];
        EXPECT_EQ(DeviceReadData(buffer, 64), 0);  // nothing comes: runs its whole budget
    });
    SleepEx(20);
    DeviceClose();  // must not close the descriptor under the read
    reader.join();
    EXPECT_FALSE(DeviceIsConnected());
}

// The poll thread's idle read and its wake-up: a wake-up ends the read only while nothing of a
// message has come, so that no part of one is left on the port for the next reader.
struct IdleReadCase {
    const char* name;
    std::size_t before;  // bytes waiting when the read starts
    bool wake;           // a wake-up is pending when the read starts
    bool clear;          // and is cleared before it
    std::size_t later;   // bytes sent 20 ms into the read
    int expected;        // what the idle read returns
    int leftForNext;     // what a following DeviceReadData of 64 bytes returns
};

class IdleRead : public TransferTest, public testing::WithParamInterface<IdleReadCase> {
  protected:
    void SetUp() override {
        TransferTest::SetUp();
        ClearIdleReadWake();
    }
    void TearDown() override {
        ClearIdleReadWake();
        TransferTest::TearDown();
    }
};

TEST_P(IdleRead, AWakeUpNeverCutsAMessage) {
    const IdleReadCase& c = GetParam();
    if (c.before > 0) Send(std::vector<unsigned char>(c.before, 0x44));
    if (c.wake) WakeIdleRead();
    if (c.clear) ClearIdleReadWake();
    std::thread device([&] {
        SleepEx(20);
        if (c.later > 0) Send(std::vector<unsigned char>(c.later, 0x55));
    });
    unsigned char buffer[64];
    EXPECT_EQ(DeviceReadIdle(buffer, 64), c.expected);
    device.join();
    SleepEx(20);
    EXPECT_EQ(DeviceReadData(buffer, 64), c.leftForNext);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IdleRead,
    testing::Values(IdleReadCase{"wokenBeforeAnyByte", 0, true, false, 64, 0, 64},
                    IdleReadCase{"messageWaitingIsRead", 64, true, false, 0, 64, 0},
                    IdleReadCase{"partOfAMessageIsCompleted", 20, true, false, 44, 64, 0},
                    IdleReadCase{"clearedWakeUpWaitsForData", 0, true, true, 64, 64, 0},
                    IdleReadCase{"noWakeUpReadsAsUsual", 0, false, false, 64, 64, 0}),
    [](const testing::TestParamInfo<IdleReadCase>& info) { return info.param.name; });

TEST_F(TransferTest, AWakeUpEndsAnIdleReadThatIsWaiting) {
    ClearIdleReadWake();
    const unsigned saved = g_nDeviceReadTimeout;
    g_nDeviceReadTimeout = 30000;
    std::thread waker([] {
        SleepEx(20);
        WakeIdleRead();
    });
    unsigned char buffer[64];
    const auto start = MonotonicNanos();
    EXPECT_EQ(DeviceReadIdle(buffer, 64), 0);
    EXPECT_LT((MonotonicNanos() - start) / 1000000, 10000) << "the read waited out its budget";
    waker.join();
    g_nDeviceReadTimeout = saved;
    ClearIdleReadWake();
}

TEST(DeviceSearch, AnInterruptedSearchDoesNotPause) {
    InterruptDeviceSearch(true);
    EXPECT_TRUE(SearchPause(60000));
    InterruptDeviceSearch(false);
    EXPECT_FALSE(SearchPause(1));
}

}  // namespace
