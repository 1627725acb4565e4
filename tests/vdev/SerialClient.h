// A raw serial client for driving the virtual device the way the library's link does: open the
// node non-blocking, raw terminal settings, one write per request, then read with a time budget.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

#include "vdev/VirtualDevice.h"

namespace vdevtest {

using vdev::Bytes;

class SerialClient {
  public:
    explicit SerialClient(const std::string& node) {
        m_fd = open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0) return;
        termios tio{};
        tcgetattr(m_fd, &tio);
        tio.c_iflag |= IGNPAR;
        tio.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IXON);
        tio.c_oflag &= ~static_cast<tcflag_t>(OPOST | ONLCR);
        tio.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
        tio.c_lflag = 0;
        tio.c_cc[VEOF] = 4;
        cfsetospeed(&tio, B115200);
        tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~SerialClient() { Close(); }
    SerialClient(const SerialClient&) = delete;
    SerialClient& operator=(const SerialClient&) = delete;

    bool ok() const { return m_fd >= 0; }
    void Close() {
        if (m_fd >= 0) close(m_fd);
        m_fd = -1;
    }

    // Writes all bytes in one call (retrying only the remainder of a partial write).
    bool Write(const Bytes& bytes) {
        std::size_t done = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (done < bytes.size() && std::chrono::steady_clock::now() < end) {
            const ssize_t n = write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            } else {
                pollfd p{m_fd, POLLOUT, 0};
                poll(&p, 1, 10);
            }
        }
        return done == bytes.size();
    }

    // Reads until `count` bytes are in or the budget is spent; returns what arrived.
    Bytes Read(std::size_t count, std::chrono::milliseconds budget) {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + budget;
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{m_fd, POLLIN, 0};
            const int ready = poll(&p, 1, static_cast<int>(left.count()) + 1);
            if (ready <= 0) continue;
            std::uint8_t buffer[4096];
            const ssize_t n = read(m_fd, buffer, std::min(sizeof buffer, count - out.size()));
            if (n > 0) {
                out.insert(out.end(), buffer, buffer + n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                m_lastReadFailed = true;
                break;
            }
        }
        return out;
    }

    // One request and its reply.
    Bytes Exchange(const Bytes& request, std::size_t replySize,
                   std::chrono::milliseconds budget = std::chrono::milliseconds(1000)) {
        if (!Write(request)) return {};
        return Read(replySize, budget);
    }

    // True when a read ended with end of file or an error (the device went away).
    bool lastReadFailed() const { return m_lastReadFailed; }
    int fd() const { return m_fd; }

  private:
    int m_fd = -1;
    bool m_lastReadFailed = false;
};

// A zero-filled request of `size` bytes starting with `head`.
inline Bytes Request(std::initializer_list<std::uint8_t> head, std::size_t size) {
    Bytes out(head);
    out.resize(size, 0);
    return out;
}

// A 64-byte storage frame.
inline Bytes StorageFrame(bool write, int channel, bool erase, std::size_t count,
                          std::uint32_t address, const Bytes& data = {}) {
    Bytes frame(64, 0);
    frame[0] = 0x12;
    frame[1] = 0x55;
    frame[2] = 0xAA;
    frame[3] = write ? 0xFF : 0x00;
    frame[5] = static_cast<std::uint8_t>(channel);
    frame[6] = erase ? 1 : 0;
    frame[7] = static_cast<std::uint8_t>(count);
    frame[8] = static_cast<std::uint8_t>(address >> 24);
    frame[9] = static_cast<std::uint8_t>(address >> 16);
    frame[10] = static_cast<std::uint8_t>(address >> 8);
    frame[11] = static_cast<std::uint8_t>(address);
    for (std::size_t i = 0; i < data.size() && 16 + i < 64; ++i) frame[16 + i] = data[i];
    return frame;
}

}  // namespace vdevtest
