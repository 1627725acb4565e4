// The device thread: pseudo-terminal, framing, pacing, faults, traffic log.
#include "vdev/VirtualDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "DeviceModel.h"
#include "Framing.h"

namespace vdev {

namespace {

constexpr std::chrono::milliseconds kTruncatedPacketTimeout{250};
constexpr std::chrono::milliseconds kStuckWriteTimeout{1000};
constexpr std::chrono::milliseconds kRestartGrace{20};
constexpr double kPi = 3.14159265358979323846;

// Owner of one pseudo-terminal and the node that points at it.
class PtyNode {
  public:
    PtyNode() = default;
    ~PtyNode() { Close(); }
    PtyNode(const PtyNode&) = delete;
    PtyNode& operator=(const PtyNode&) = delete;

    bool Open(const std::string& node, std::string* error) {
        Close();
        int master = -1;
        int slave = -1;
        char name[256] = {0};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            *error = std::string("openpty failed: ") + std::strerror(errno);
            return false;
        }
        termios tio{};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tcsetattr(slave, TCSANOW, &tio);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);

        struct stat st {};
        if (lstat(node.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode) || unlink(node.c_str()) != 0) {
                *error = "cannot replace " + node + ": it exists and is not a symbolic link";
                ::close(master);
                ::close(slave);
                return false;
            }
        }
        if (symlink(name, node.c_str()) != 0) {
            *error = "cannot create " + node + ": " + std::strerror(errno);
            ::close(master);
            ::close(slave);
            return false;
        }
        m_master = master;
        m_slave = slave;  // held open so that the master never sees a hang-up between clients
        m_node = node;
        m_slavePath = name;
        return true;
    }

    void Close() {
        if (m_master < 0) return;
        char target[256] = {0};
        const ssize_t n = readlink(m_node.c_str(), target, sizeof target - 1);
        if (n > 0 && m_slavePath == std::string(target, static_cast<std::size_t>(n))) {
            unlink(m_node.c_str());
        }
        ::close(m_slave);
        ::close(m_master);
        m_master = -1;
        m_slave = -1;
        m_slavePath.clear();
    }

    int master() const { return m_master; }
    const std::string& slavePath() const { return m_slavePath; }

  private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_node;
    std::string m_slavePath;
};

struct Outgoing {
    Bytes bytes;
    std::string note;
    std::size_t written = 0;
    Clock::time_point firstTry{};
};

struct FaultState {
    FaultRule rule;
    int skipLeft = 0;
    int countLeft = -1;
};

}  // namespace

struct VirtualDevice::Impl {
    explicit Impl(const Options& o) : options(o), model(o.config) {}

    // ---- set once before the thread starts ----
    Options options;
    std::string nodePath;

    // ---- guarded by mu (device thread and callers) ----
    mutable std::mutex mu;
    mutable std::condition_variable changed;  // log, packets, commands
    DeviceModel model;
    StreamDecoder decoder;
    std::uint64_t decoderGeneration = ~std::uint64_t{0};
    std::deque<TrafficEntry> log;
    std::deque<DecodedSample> samples;
    StreamStats stats;
    std::vector<FaultState> faults;
    bool fastAck = false;
    bool plugged = false;
    std::string slavePath;
    enum class Command { kNone, kUnplug, kReplug, kStop };
    std::deque<Command> commands;
    std::uint64_t commandsDone = 0;
    std::uint64_t commandsPosted = 0;
    bool running = false;  // the device thread takes commands

    // ---- device thread only ----
    std::thread thread;
    int wake[2] = {-1, -1};
    PtyNode pty;
    Bytes rx;
    Clock::time_point lastRx{};
    std::multimap<Clock::time_point, Outgoing> outbox;
    Clock::time_point playEnd{};
    Clock::time_point nextReport{};
    double reportClock = 0;
    std::uint16_t reportCounter = 0;
    std::uint8_t frameCounter = 0;  // status byte of the next sampling frame
    bool restartPending = false;
    Clock::time_point restartAt{};
    bool replugPending = false;
    Clock::time_point replugAt{};
    bool stopping = false;

    void Run();
    void RunCommands();
    void ReadMaster(Clock::time_point now);
    void Frame(Clock::time_point now);
    void HandleRequest(Bytes request, Clock::time_point now);
    void HandleStream(const Bytes& packet, Clock::time_point now);
    void SendReports(Clock::time_point now);
    void Flush(Clock::time_point now);
    void DoUnplug();
    bool DoReplug();
    Clock::time_point NextDeadline(Clock::time_point now) const;

    // Under mu.
    void Append(Direction direction, Bytes bytes, std::string note, Clock::time_point when);
    // Under mu: applies the fault rules to a reply; false when it must not be sent.
    bool ApplyFaults(const Bytes& request, Reply* reply, Clock::time_point* due, std::string* note);
    std::uint64_t Post(Command command);
};

void VirtualDevice::Impl::Append(Direction direction, Bytes bytes, std::string note,
                                 Clock::time_point when) {
    if (options.logCapacity == 0) return;
    TrafficEntry entry;
    entry.time = when;
    entry.direction = direction;
    entry.bytes = std::move(bytes);
    entry.note = std::move(note);
    log.push_back(std::move(entry));
    while (log.size() > options.logCapacity) log.pop_front();
    changed.notify_all();
}

bool VirtualDevice::Impl::ApplyFaults(const Bytes& request, Reply* reply, Clock::time_point* due,
                                      std::string* note) {
    for (FaultState& f : faults) {
        const FaultRule& rule = f.rule;
        if (rule.firstByte >= 0 && (request.empty() || request[0] != rule.firstByte)) continue;
        if (rule.match && !rule.match(request)) continue;
        if (f.countLeft == 0) continue;
        if (f.skipLeft > 0) {
            --f.skipLeft;
            return true;
        }
        if (f.countLeft > 0) --f.countLeft;
        switch (rule.kind) {
            case FaultRule::Kind::kNoReply:
                *note += " [fault: no reply]";
                return false;
            case FaultRule::Kind::kShortReply:
                if (reply->bytes.size() > rule.shortLength) reply->bytes.resize(rule.shortLength);
                *note += " [fault: short reply]";
                break;
            case FaultRule::Kind::kUnacknowledged:
                if (reply->ackIndex >= 0) reply->bytes[reply->ackIndex] = 0x00;
                *note += " [fault: unacknowledged]";
                break;
            case FaultRule::Kind::kDelay:
                *due += std::chrono::milliseconds(rule.delayMs);
                *note += " [fault: delayed]";
                break;
            case FaultRule::Kind::kCorruptByte:
                if (rule.index < reply->bytes.size()) reply->bytes[rule.index] = rule.value;
                *note += " [fault: corrupted byte]";
                break;
            case FaultRule::Kind::kGarbage:
                for (std::size_t i = 0; i < reply->bytes.size(); ++i) {
                    const auto b = static_cast<std::uint8_t>(0x35 + 73 * i);
                    reply->bytes[i] = b == 0xFF ? 0x5A : b;
                }
                *note += " [fault: garbage]";
                break;
        }
        return true;
    }
    return true;
}

std::uint64_t VirtualDevice::Impl::Post(Command command) {
    // Under mu.
    commands.push_back(command);
    const std::uint64_t ticket = ++commandsPosted;
    const char byte = 1;
    if (write(wake[1], &byte, 1) < 0) {
        // The pipe is full only when wake-ups are already pending; the thread will see the queue.
    }
    return ticket;
}

void VirtualDevice::Impl::DoUnplug() {
    pty.Close();
    rx.clear();
    outbox.clear();
    playEnd = Clock::time_point{};
    std::lock_guard<std::mutex> lock(mu);
    plugged = false;
    slavePath.clear();
    model.samplingSelected = false;
    model.samplingMask = 0;
    model.converterSelection = 0;
    model.loaderActive = false;
}

bool VirtualDevice::Impl::DoReplug() {
    if (pty.master() >= 0) return true;
    std::string error;
    const bool ok = pty.Open(nodePath, &error);
    std::lock_guard<std::mutex> lock(mu);
    plugged = ok;
    slavePath = ok ? pty.slavePath() : std::string();
    if (!ok) Append(Direction::kDeviceToHost, {}, "replug failed: " + error, Clock::now());
    return ok;
}

void VirtualDevice::Impl::RunCommands() {
    char drain[64];
    while (read(wake[0], drain, sizeof drain) > 0) {
    }
    for (;;) {
        Command command;
        {
            std::lock_guard<std::mutex> lock(mu);
            if (commands.empty()) return;
            command = commands.front();
            commands.pop_front();
        }
        switch (command) {
            case Command::kUnplug:
                restartPending = replugPending = false;
                DoUnplug();
                break;
            case Command::kReplug:
                restartPending = replugPending = false;
                DoReplug();
                break;
            case Command::kStop:
                stopping = true;
                break;
            case Command::kNone:
                break;
        }
        std::lock_guard<std::mutex> lock(mu);
        ++commandsDone;
        changed.notify_all();
    }
}

void VirtualDevice::Impl::ReadMaster(Clock::time_point now) {
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = read(pty.master(), buffer, sizeof buffer);
        if (n > 0) {
            rx.insert(rx.end(), buffer, buffer + n);
            lastRx = now;
            continue;
        }
        return;  // EAGAIN, or EIO while no slave is open: nothing to read now
    }
}

void VirtualDevice::Impl::Frame(Clock::time_point now) {
    const auto gap = std::chrono::milliseconds(std::clamp(options.quietGapMs, 1u, 50u));
    while (!rx.empty()) {
        if (rx[0] == 0x01) {
            if (rx.size() >= StreamDecoder::kPacketSize) {
                Bytes packet(rx.begin(), rx.begin() + StreamDecoder::kPacketSize);
                rx.erase(rx.begin(), rx.begin() + StreamDecoder::kPacketSize);
                HandleStream(packet, now);
                continue;
            }
            if (now - lastRx < kTruncatedPacketTimeout) return;
            std::lock_guard<std::mutex> lock(mu);
            ++stats.truncatedPackets;
            Append(Direction::kHostToDevice, rx, "StreamData truncated: dropped", now);
            rx.clear();
            return;
        }
        const std::size_t end = RequestEnd(rx, now - lastRx >= gap);
        if (end == 0) return;
        Bytes request(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(end));
        rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(end));
        HandleRequest(std::move(request), now);
    }
}

void VirtualDevice::Impl::HandleRequest(Bytes request, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mu);
    Reply reply;
    Effects effects;
    std::string name;
    const bool known = model.Handle(request, &reply, &effects, &name);
    Append(Direction::kHostToDevice, request, name, now);
    if (!known) return;
    Clock::time_point due = now;
    std::string note = name;
    if (ApplyFaults(request, &reply, &due, &note)) {
        outbox.emplace(due, Outgoing{std::move(reply.bytes), note, 0, {}});
    } else {
        Append(Direction::kDeviceToHost, {}, note, now);
    }
    if (effects.samplingChanged) {
        nextReport = now + std::chrono::milliseconds(options.samplingReportIntervalMs);
    }
    if (effects.restart) {
        restartPending = true;
        restartAt = due + kRestartGrace;
    }
}

void VirtualDevice::Impl::HandleStream(const Bytes& packet, Clock::time_point now) {
    std::vector<DecodedSample> decoded;
    {
        std::lock_guard<std::mutex> lock(mu);
        if (decoderGeneration != model.CalibrationGeneration()) {
            decoder.SetDcTable(model.DecodeTable());
            decoderGeneration = model.CalibrationGeneration();
        }
        decoder.Decode(packet.data(), &decoded, &stats.errors);
        for (DecodedSample& s : decoded) {
            if (s.respiration) s.respirationOhms = model.RespirationOhms(s.respirationCodes);
            model.DecodePpgChannels(&s);
            s.sampleRate = model.sampleRate > 0 ? model.sampleRate : 20000;
        }
        ++stats.packets;
        stats.samples += decoded.size();
        stats.lastOperateMode = packet[1];
        stats.lastSequence =
            static_cast<std::uint16_t>((packet[49 * 64 + 6] << 8) | packet[49 * 64 + 7]);
        if (options.decodedCapacity > 0) {
            samples.insert(samples.end(), decoded.begin(), decoded.end());
            while (samples.size() > options.decodedCapacity) samples.pop_front();
        }
        Append(Direction::kHostToDevice, packet, "StreamData", now);

        // One acknowledgement per packet, sent when the device starts to play it: it holds one
        // packet in reserve, so the host always has one packet's playing time to build the next.
        Reply ack = model.StreamAck(packet.data());
        const int groups = std::clamp<int>(packet[5], 1, 14);
        const double rate = model.sampleRate > 0 ? model.sampleRate : 20000.0;
        const auto playing = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(50.0 * groups / rate));
        Clock::time_point due = fastAck ? now : std::max(now, playEnd);
        playEnd = due + playing;
        std::string note = "StreamData ack";
        if (ApplyFaults(packet, &ack, &due, &note)) {
            outbox.emplace(due, Outgoing{std::move(ack.bytes), note, 0, {}});
        } else {
            Append(Direction::kDeviceToHost, {}, note, now);
        }
        changed.notify_all();
    }
    if (options.sampleSink) {
        for (const DecodedSample& s : decoded) options.sampleSink(s);
    }
}

void VirtualDevice::Impl::SendReports(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mu);
    if (!model.samplingSelected || now < nextReport) return;
    const auto interval = std::chrono::milliseconds(std::max(1u, options.samplingReportIntervalMs));
    nextReport = now + interval;
    const std::uint8_t mask = model.samplingMask;
    int k = 0;
    for (int i = 0; i < 4; ++i) k += (mask >> i) & 1;
    if (k == 0) return;
    Bytes report(64, 0);
    report[0] = 0xAD;
    report[1] = 0xFF;
    report[4] = mask;
    report[6] = static_cast<std::uint8_t>(reportCounter >> 8);
    report[7] = static_cast<std::uint8_t>(reportCounter & 0xFF);
    ++reportCounter;
    const int frames = 56 / (2 * k + 1);
    const double frameTime = std::chrono::duration<double>(interval).count() / frames;
    for (int f = 0; f < frames; ++f) {
        std::size_t at = 8 + static_cast<std::size_t>(f * (2 * k + 1));
        for (int i = 0; i < 4; ++i) {
            if (!((mask >> i) & 1)) continue;
            // A pulse-like photodiode signal, 1.2 Hz, phase shifted per input, 12 bits.
            const double v = 2048 + 1500 * std::sin(2 * kPi * 1.2 * reportClock + 0.7 * i);
            const auto value = static_cast<std::uint16_t>(v);
            report[at++] = static_cast<std::uint8_t>(value >> 8);
            report[at++] = static_cast<std::uint8_t>(value & 0xFF);
        }
        report[at] = frameCounter++;  // status: the frame's running number
        reportClock += frameTime;
    }
    outbox.emplace(now, Outgoing{std::move(report), "PPG sampling report", 0, {}});
}

void VirtualDevice::Impl::Flush(Clock::time_point now) {
    while (!outbox.empty() && outbox.begin()->first <= now) {
        Outgoing& out = outbox.begin()->second;
        if (pty.master() < 0) {
            outbox.erase(outbox.begin());
            continue;
        }
        if (out.written == 0 && out.firstTry == Clock::time_point{}) out.firstTry = now;
        while (out.written < out.bytes.size()) {
            const ssize_t n =
                write(pty.master(), out.bytes.data() + out.written, out.bytes.size() - out.written);
            if (n <= 0) break;
            out.written += static_cast<std::size_t>(n);
        }
        if (out.written < out.bytes.size()) {
            if (now - out.firstTry < kStuckWriteTimeout) return;  // retry when writable
            std::lock_guard<std::mutex> lock(mu);
            Append(Direction::kDeviceToHost, out.bytes, out.note + " [dropped: nobody reads]", now);
            outbox.erase(outbox.begin());
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mu);
            Append(Direction::kDeviceToHost, std::move(out.bytes), out.note, now);
        }
        outbox.erase(outbox.begin());
    }
}

Clock::time_point VirtualDevice::Impl::NextDeadline(Clock::time_point now) const {
    Clock::time_point next = now + std::chrono::milliseconds(50);
    if (!outbox.empty()) {
        const Outgoing& first = outbox.begin()->second;
        // A reply that could not be written whole waits for POLLOUT, re-checked every 10 ms.
        const bool blocked = first.firstTry != Clock::time_point{};
        next = std::min(next, blocked ? now + std::chrono::milliseconds(10)
                                      : std::max(now, outbox.begin()->first));
    }
    if (!rx.empty()) {
        next = std::min(next, lastRx + (rx[0] == 0x01 ? kTruncatedPacketTimeout
                                                      : std::chrono::milliseconds(std::clamp(
                                                            options.quietGapMs, 1u, 50u))));
    }
    if (restartPending) next = std::min(next, restartAt);
    if (replugPending) next = std::min(next, replugAt);
    {
        std::lock_guard<std::mutex> lock(mu);
        if (model.samplingSelected) next = std::min(next, nextReport);
    }
    return next;
}

void VirtualDevice::Impl::Run() {
    while (!stopping) {
        const Clock::time_point now = Clock::now();
        const Clock::time_point deadline = NextDeadline(now);
        pollfd fds[2] = {{wake[0], POLLIN, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        if (pty.master() >= 0) {
            short events = POLLIN;
            if (!outbox.empty() && outbox.begin()->first <= now) events |= POLLOUT;
            fds[1] = {pty.master(), events, 0};
            count = 2;
        }
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        // Round up so that a deadline 0.3 ms away does not spin.
        const int timeout = deadline <= now ? 0 : static_cast<int>(wait) + 1;
        poll(fds, count, timeout);
        if (fds[0].revents & POLLIN) RunCommands();
        if (stopping) break;
        const Clock::time_point after = Clock::now();
        if (pty.master() >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            ReadMaster(after);
        }
        Frame(after);
        SendReports(after);
        Flush(after);
        if (restartPending && after >= restartAt && outbox.empty()) {
            restartPending = false;
            DoUnplug();
            replugPending = true;
            replugAt = after + std::chrono::milliseconds(options.restartDowntimeMs);
        }
        if (replugPending && after >= replugAt) {
            replugPending = false;
            DoReplug();
        }
    }
    pty.Close();
    std::lock_guard<std::mutex> lock(mu);
    plugged = false;
    slavePath.clear();
    running = false;
    changed.notify_all();
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<VirtualDevice> VirtualDevice::Start(const Options& options, std::string* error) {
    std::string dummy;
    if (error == nullptr) error = &dummy;
    std::string pattern = options.pattern;
    if (pattern.empty()) {
        const char* env = std::getenv("TOLVAN_DEVICE_PATTERN");
        pattern = (env != nullptr && *env != '\0') ? env : "/dev/ttyACM%d";
    }
    auto impl = std::make_unique<Impl>(options);
    if (!FormatNodePath(pattern, options.port, &impl->nodePath)) {
        *error = "invalid node pattern \"" + pattern + "\" (needs exactly one %d)";
        return nullptr;
    }
    if (!impl->pty.Open(impl->nodePath, error)) return nullptr;
    if (pipe(impl->wake) != 0) {
        *error = std::string("pipe failed: ") + std::strerror(errno);
        return nullptr;
    }
    for (int fd : impl->wake) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    impl->fastAck = options.fastAck;
    impl->plugged = true;
    impl->running = true;
    impl->slavePath = impl->pty.slavePath();
    Impl* raw = impl.get();
    impl->thread = std::thread([raw] { raw->Run(); });
    return std::unique_ptr<VirtualDevice>(new VirtualDevice(std::move(impl)));
}

VirtualDevice::VirtualDevice(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

VirtualDevice::~VirtualDevice() {
    Stop();
}

void VirtualDevice::Stop() {
    if (!m_impl->thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_impl->mu);
        m_impl->Post(Impl::Command::kStop);
    }
    m_impl->thread.join();
    for (int& fd : m_impl->wake) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

std::string VirtualDevice::NodePath() const {
    return m_impl->nodePath;
}

std::string VirtualDevice::SlavePath() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->slavePath;
}

int VirtualDevice::Port() const {
    return m_impl->options.port;
}

std::vector<TrafficEntry> VirtualDevice::Log() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return {m_impl->log.begin(), m_impl->log.end()};
}

void VirtualDevice::ClearLog() {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->log.clear();
}

std::vector<TrafficEntry> VirtualDevice::Requests() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    std::vector<TrafficEntry> out;
    for (const TrafficEntry& e : m_impl->log) {
        if (e.direction == Direction::kHostToDevice) out.push_back(e);
    }
    return out;
}

std::optional<TrafficEntry> VirtualDevice::WaitForRequest(
    const std::function<bool(const Bytes&)>& pred, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_impl->mu);
    std::optional<TrafficEntry> found;
    m_impl->changed.wait_for(lock, timeout, [&] {
        for (const TrafficEntry& e : m_impl->log) {
            if (e.direction == Direction::kHostToDevice && pred(e.bytes)) {
                found = e;
                return true;
            }
        }
        return false;
    });
    return found;
}

std::optional<TrafficEntry> VirtualDevice::WaitForRequest(std::uint8_t firstByte,
                                                          std::chrono::milliseconds timeout) const {
    return WaitForRequest([firstByte](const Bytes& b) { return !b.empty() && b[0] == firstByte; },
                          timeout);
}

std::size_t VirtualDevice::CountRequests(const std::function<bool(const Bytes&)>& pred) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return static_cast<std::size_t>(
        std::count_if(m_impl->log.begin(), m_impl->log.end(), [&](const TrafficEntry& e) {
            return e.direction == Direction::kHostToDevice && pred(e.bytes);
        }));
}

void VirtualDevice::AddFault(const FaultRule& rule) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    FaultState state;
    state.rule = rule;
    state.skipLeft = rule.skip;
    state.countLeft = rule.count;
    m_impl->faults.push_back(std::move(state));
}

void VirtualDevice::ClearFaults() {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->faults.clear();
}

void VirtualDevice::SetIdentifyMark(const std::array<char, 4>& mark) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->model.config().identifyMark = mark;
}

void VirtualDevice::SetFastAck(bool fast) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->fastAck = fast;
}

void VirtualDevice::Unplug() {
    std::unique_lock<std::mutex> lock(m_impl->mu);
    if (!m_impl->running) return;
    const std::uint64_t ticket = m_impl->Post(Impl::Command::kUnplug);
    m_impl->changed.wait(lock, [&] { return m_impl->commandsDone >= ticket || !m_impl->running; });
}

bool VirtualDevice::Replug() {
    std::unique_lock<std::mutex> lock(m_impl->mu);
    if (!m_impl->running) return false;
    const std::uint64_t ticket = m_impl->Post(Impl::Command::kReplug);
    m_impl->changed.wait(lock, [&] { return m_impl->commandsDone >= ticket || !m_impl->running; });
    return m_impl->plugged;
}

bool VirtualDevice::IsPlugged() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->plugged;
}

Bytes VirtualDevice::ReadFlash(int channel, std::size_t address, std::size_t count) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->model.ReadFlash(channel, address, count);
}

bool VirtualDevice::WriteFlash(int channel, std::size_t address, const Bytes& bytes) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->model.WriteFlash(channel, address, bytes.data(), bytes.size());
}

bool VirtualDevice::EraseFlash(int channel) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->model.EraseChannel(channel);
}

void VirtualDevice::AddWriteDefect(int channel, std::size_t address) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->model.writeDefects.insert({channel, address});
}

void VirtualDevice::ClearWriteDefects() {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->model.writeDefects.clear();
}

std::vector<std::uint16_t> VirtualDevice::DcTableInFlash() const {
    const Bytes raw = ReadFlash(18, 0, 2 * 4001);
    std::vector<std::uint16_t> table(raw.size() / 2);
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i] = static_cast<std::uint16_t>((raw[2 * i] << 8) | raw[2 * i + 1]);
    }
    return table;
}

Bytes VirtualDevice::LastOutputConfig() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->model.lastOutputConfig;
}

Bytes VirtualDevice::LastShortOutputConfig() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->model.lastShortOutputConfig;
}

std::uint16_t VirtualDevice::SampleRate() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->model.sampleRate > 0 ? m_impl->model.sampleRate : 20000;
}

Bytes VirtualDevice::Setting(std::uint8_t id) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    auto it = m_impl->model.settings.find(id);
    return it == m_impl->model.settings.end() ? Bytes(60, 0) : it->second;
}

Bytes VirtualDevice::ModuleBlock(int block) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return (block == 0 || block == 1) ? m_impl->model.moduleBlocks[block] : Bytes{};
}

std::uint8_t VirtualDevice::ConverterSelection() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->model.converterSelection;
}

bool VirtualDevice::IsSampling() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->model.samplingSelected;
}

bool VirtualDevice::LoaderActive() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->model.loaderActive;
}

Bytes VirtualDevice::McuMemory(std::size_t address, std::size_t count) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    const Bytes& memory = m_impl->model.mcuMemory;
    if (address >= memory.size()) return {};
    count = std::min(count, memory.size() - address);
    return Bytes(memory.begin() + static_cast<std::ptrdiff_t>(address),
                 memory.begin() + static_cast<std::ptrdiff_t>(address + count));
}

int VirtualDevice::RestartCount() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->model.restarts;
}

bool VirtualDevice::DynamicLedEnabled() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->model.dynamicLed;
}

std::uint8_t VirtualDevice::AmbientLightMode() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->model.ambientLightMode;
}

std::vector<DecodedSample> VirtualDevice::DecodedSamples() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return {m_impl->samples.begin(), m_impl->samples.end()};
}

StreamStats VirtualDevice::Stats() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->stats;
}

void VirtualDevice::ClearDecoded() {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->samples.clear();
    m_impl->stats = StreamStats{};
    m_impl->decoder.Reset();
}

bool VirtualDevice::WaitForPackets(std::uint64_t packets, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_impl->mu);
    return m_impl->changed.wait_for(lock, timeout,
                                    [&] { return m_impl->stats.packets >= packets; });
}

}  // namespace vdev
