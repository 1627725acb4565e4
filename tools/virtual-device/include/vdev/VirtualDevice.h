// The TOLVAN virtual device: a stand-in for the simulator's firmware on a pseudo-terminal.
//
// A VirtualDevice opens a pseudo-terminal pair, sets the slave to raw mode and publishes it as a
// symbolic link at the node path of port n (the printf pattern of TOLVAN_DEVICE_PATTERN, default
// "/dev/ttyACM%d"), so that the library finds it exactly as it finds a real simulator. A thread of
// its own answers every request of the device command set, acknowledges stream packets at the
// pace of a real device, sends photodiode sampling reports while sampling is selected, decodes
// the stream back into millivolts and keeps a traffic log of every request and reply.
//
// Framing. A request whose first byte is 0x01 is a stream packet and is 3200 bytes long. Every
// other request ends after a quiet gap on the line (Options::quietGapMs, 3 ms by default): the
// library writes each request with one write call and waits for the reply before it writes the
// next, so requests that share a first byte and differ only by length (the full and short
// OutputConfig, SettingWrite and SettingWriteShort) are told apart by the gap. The known lengths
// of each family shorten the wait and keep requests apart that arrive back to back:
//  - a family with one length only (Identify 3, version queries 2, converter 5, storage 64,
//    Restart 1) ends as soon as that many bytes are in;
//  - a request ends at 64 bytes (no request is longer);
//  - a request followed at once by a stream packet (a command whose reply the host does not
//    wait for, such as AmbientLightWrite during playback) ends where the packet begins.
// A stream packet still incomplete 250 ms after its last byte is logged as truncated and
// dropped without an acknowledgement.
//
// Replies. Every request of the command set gets one reply of the documented size (Identify:
// 55 00 00 FF, the identify mark "QTVP", hardware major and minor, serial sequence big-endian;
// storage: the request's 16 header bytes with 0xFF at byte 4, read data from byte 16); a request
// outside it gets none and is logged as "unknown request". Stream packets are acknowledged with
// 64 bytes (01, operate mode, 00, FF, 00, group count, sequence number of the last sub-packet)
// when the device starts to play them: it holds one packet in reserve, so with one packet in
// flight the host is paced at one packet per playing time (50 x groups / sample rate of the last
// OutputConfig, 20000/s before any). Where the command set names no reply layout, a reply starts
// with the request's first bytes and carries 0xFF at the acknowledge byte of its family.
//
// Model choices where the command set leaves the device open:
//  - a storage write stores the bytes given (no erase needed before it); channel 19 answers only
//    while a module is attached; reads and writes carry at most 48 bytes;
//  - setting values are kept per id as the bytes 4..63 of the last write (a short write sets only
//    the bytes it carries); reads return them;
//  - the PPG family (0xB0) and sampling selections are not acknowledged without a PPG module;
//  - a 64-byte EA FF 00 request whose payload is all zero reads the LED pulse group record,
//    any other writes it;
//  - the firmware loader: the simulator's image is burned through storage channel 3 (sector
//    erases, writes and reads of up to 48 bytes, kept in the channel's memory); Restart (0xDD)
//    replies, removes the node for Options::restartDowntimeMs and publishes it again (a replug:
//    a new pseudo-terminal), booting the firmware version found at the image's version offset
//    in channel 3 when the image mark "TOLV" is there. The PPG module's microcontroller has a
//    loader of its own (0xB9: LoaderMode, McuErase, McuWrite, McuRead on a 128 KiB memory that
//    only answers while the loader is entered); LoaderMode 255 leaves it and boots the MCU
//    image's version likewise (the simulator's node stays). AddWriteDefect makes a cell that
//    does not keep what is written, so that a burn's read-back finds a mismatch;
//  - photodiode sampling reports are 64 bytes: AD FF 00 00, the input mask, 00, a 16-bit report
//    counter, then as many whole frames as fit: the samples big-endian (a 1.2 Hz pulse-like
//    wave around 2048, phase-shifted per input), then a status byte that counts the frames
//    (modulo 256) so that a host can see their order and any loss. A report can be
//    queued just before a command arrives, as on the real device; the host's reply read may then
//    see the report first.
//
// Threads. All public member functions are thread-safe and may be called from any thread while
// the device runs. The device thread answers requests; callbacks given in Options (sampleSink)
// run on the device thread and must not call back into the VirtualDevice.
//
// The model is written independently of the library's protocol code so that the two cross-check
// each other: every byte layout here comes from the device's documented command set.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vdev {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------------------------
// Identity and flash contents
// ---------------------------------------------------------------------------------------------

// Ready-made devices.
enum class Preset {
    kOld,          // "old": flash firmware 1.2; DC table only at the old location (channel 3)
    kCurrent,      // "current": flash firmware 1.3, version queries 1.3.05.12; table in channel 18
    kPpg2012,      // "ppg2012": current simulator with PPG module 0x2012 (channel map 1, 2, 3)
    kPpg2112,      // "ppg2112": current simulator with PPG module 0x2112 (16-bit DAC, MCU loader)
    kRespiration,  // "resp": current simulator with the external respiration module ('E' 'R')
};

// The preset's command-line name ("old", "current", "ppg2012", "ppg2112", "resp").
const char* PresetName(Preset preset);
// Parses a preset name; false (and *preset unchanged) when the name is unknown.
bool ParsePresetName(const std::string& name, Preset* preset);
// Every preset, in the order above.
std::vector<Preset> AllPresets();

// The 12-byte model information image kept at address 0 of channel 1 (simulator) or channel 19
// (attached module): 'Q', letter 1, letter 2, model code high, model code low, serial group,
// serial sequence (big-endian), hardware major, hardware minor, firmware first and second part.
struct ModelImage {
    char letter1 = 'P';
    char letter2 = 'S';
    std::uint8_t modelHigh = 0x01;
    std::uint8_t modelLow = 0x30;
    std::uint8_t serialGroup = 26;
    std::uint16_t serialSequence = 815;
    std::uint8_t hardwareMajor = 2;
    std::uint8_t hardwareMinor = 1;
    std::uint8_t firmwareFirst = 1;   // firmware version as stored in flash, first part
    std::uint8_t firmwareSecond = 3;  // second part
};
// The 12 bytes of a model image.
Bytes EncodeModelImage(const ModelImage& image);

// Everything that makes one device different from another. A preset fills it; any field may be
// changed before the device starts.
struct DeviceConfig {
    ModelImage model;  // channel 1, address 0
    // Bytes 4..7 of the identify reply; tests change them to make a device that is not a
    // simulator (the library wants "QTV" and 'P').
    std::array<char, 4> identifyMark{{'Q', 'T', 'V', 'P'}};
    // Serial sequence of identify reply bytes 10..11 (big-endian). The library prefers it over
    // the flash value; by default both agree.
    std::uint16_t identifySerialSequence = 815;
    std::array<std::uint8_t, 4> firmwareVersion{{1, 3, 5, 12}};  // FirmwareVersionQuery (AA 03)
    std::array<std::uint8_t, 2> hardwareVersion{{2, 1}};         // HardwareVersionQuery (AA 02)
    std::uint8_t busVoltage = 50;  // BusVoltageRead byte 4 (tenths of a volt)

    // Attached module: none, a PPG module (letters 'A' 'P') or the respiration module ('E' 'R').
    enum class Module { kNone, kPpg, kRespiration } module = Module::kNone;
    ModelImage moduleModel;  // channel 19, address 0 (meaningful when a module is attached)
    std::array<std::uint8_t, 4> moduleFirmwareVersion{{1, 0, 3, 7}};  // ModuleVersionQuery
    bool ppgDac16Bit = false;  // DacWidthQuery byte 4 = 1 (16-bit PPG DAC) when true

    // DC calibration table: entry i is the DC DAC code of (i - 2000) mV. Written big-endian to
    // channel 18 at address 0 and/or to the old location, channel 3 at 102400.
    std::vector<std::uint16_t> dcTable;  // 4001 entries; empty: the preset's table
    bool dcTableInChannel18 = true;
    bool dcTableInChannel3 = false;

    // PPG module readouts.
    std::array<std::uint16_t, 6> photodiodeValues{{1000, 2000, 1500, 2500, 1200, 2200}};
    std::uint8_t photodiodeStatus = 0;                   // status byte 8 of the PD readouts
    std::array<std::uint16_t, 2> rldCounts{{512, 310}};  // RLDRead counts
};

// The device of a preset. Flash contents made from it:
//  - channel 1: the model image;
//  - channel 3: the firmware image mark "TOLV" and firmwareVersion at 118772..118779, the
//    manufacturing text "TOLVAN virtual device" at 115712, the DC table at 102400 when
//    dcTableInChannel3 (preset "old");
//  - channel 18: the DC table when dcTableInChannel18 (every other preset);
//  - channel 19 (PPG module): the module image; photodiode sampling tables at 1024 and 3072
//    (entry i = 4i, big-endian); FACTORY_SETTING at 5120 (valid; LED levels 150, 140, 130,
//    trigger levels 30, 32, 34); photodiode ratio floats from 5248 (1.00, 0.99, ...); on 0x2112
//    also the transmission-rate words of the MCU settings (first value 800 - 100 m, second 1023)
//    and PPG DC tables 0 and 1 at 5632 and 13824 (entries 3i/4 and i/2, little-endian), and the
//    factory AC level words 9..17 of the MCU settings (60000 - 1000 (w - 9)). The LED and
//    trigger levels are also the initial values of settings 1, 2, 18 and 3, 4, 19;
//  - channel 19 (respiration module): the module image; the coefficient record at 5248 (mark
//    0.60991, then 110.5, 111.0, 109.5, 0.0); the baseline DAC table at 5312 (1000 + 500k); the
//    potentiometer-3 table at 5376 (66 + 0.4k ohms); module words (setting 0x0D) 512, 512,
//    40, 1000.
DeviceConfig MakePreset(Preset preset);
// The preset DC table: a slightly off-nominal gain and offset (not the library's default table),
// so that a test can tell whether the library drives the DC path with the device's table.
std::vector<std::uint16_t> PresetDcTable();
// The library's default DC table (used to decode when the flash holds no valid table).
std::vector<std::uint16_t> DefaultDcTable();

// Firmware images as the device's loaders take them, for trying an update without a real image:
// a pattern that differs from chunk to chunk, the image's mark at 118772 and its version
// numbers at 118776..118779.
//  - the simulator's image: at least 122880 bytes (the burned part), mark "TOLV";
//  - the PPG module's microcontroller image: at least 118780 bytes, mark 32 54 46 32 ("2TF2").
Bytes MakeFirmwareImage(const std::array<std::uint8_t, 4>& version, std::size_t size = 122880);
Bytes MakeMcuImage(const std::array<std::uint8_t, 4>& version, std::size_t size = 118780);

// Storage channels and their sizes; any other channel is not acknowledged. Channel 19 exists
// only while a module is attached. Erased bytes read 0xFF; a write stores the bytes given (it does
// not need a prior erase); an erase clears the 1024-byte sector holding the address.
constexpr std::size_t kSectorSize = 1024;
// The memory of the PPG module's microcontroller where a channel is asked for (write defects).
constexpr int kMcuMemory = 0x100;
std::size_t ChannelSize(int channel);  // 0 for an unknown channel

// ---------------------------------------------------------------------------------------------
// Traffic log
// ---------------------------------------------------------------------------------------------

enum class Direction { kHostToDevice, kDeviceToHost };

struct TrafficEntry {
    Clock::time_point time;  // when the request was framed or the reply was written
    Direction direction = Direction::kHostToDevice;
    Bytes bytes;       // exactly what crossed the line (a short-reply fault logs the short bytes)
    std::string note;  // command name ("Identify", "StorageRead", "StreamData ack", ...) and
                       // any fault or anomaly ("fault: no reply", "unknown request")
};

// ---------------------------------------------------------------------------------------------
// Fault injection
// ---------------------------------------------------------------------------------------------

// A rule that changes the device's replies. Rules are checked in the order they were added; the
// first rule that matches a reply applies to it.
struct FaultRule {
    enum class Kind {
        kNoReply,         // the reply is not sent
        kShortReply,      // only the first shortLength bytes are sent
        kUnacknowledged,  // the family's acknowledge byte is 0x00 instead of 0xFF
        kDelay,           // the reply is sent delayMs later
        kCorruptByte,     // reply byte `index` is replaced by `value`
        kGarbage,         // every reply byte is replaced by line noise (never 0xFF), same length
    };
    Kind kind = Kind::kNoReply;
    int firstByte = -1;  // only replies to requests with this first byte; -1 = every reply
    // Only requests for which this returns true (in addition to firstByte); empty = all. Runs on
    // the device thread with the device's lock held: it must not call the VirtualDevice.
    std::function<bool(const Bytes& request)> match;
    int skip = 0;    // let this many matching replies through first
    int count = -1;  // then apply to this many; -1 = for ever
    std::size_t shortLength = 40;
    unsigned delayMs = 0;
    std::size_t index = 0;
    std::uint8_t value = 0;
};

// ---------------------------------------------------------------------------------------------
// Stream decoding
// ---------------------------------------------------------------------------------------------

// One output sample as the device would play it.
struct DecodedSample {
    std::uint64_t index = 0;  // running sample number since the device started (or cleared)
    std::uint8_t operateMode = 0;
    std::uint16_t dcCode = 0;
    std::int16_t acCode = 0;
    double dcMillivolts = 0;  // dcCode through the inverse of the device's calibration table
    double acMillivolts = 0;  // acCode / 1600
    bool pacing = false;      // a pacing pulse began at this sample (sub-packet byte 4)
    // PPG slots (operate-mode bits 0x04, 0x08, 0x10 in that order): DC code, AC code. Only the
    // first ppgSlots entries are valid.
    int ppgSlots = 0;
    std::array<std::array<std::uint16_t, 2>, 3> ppg{};
    // The same codes by PPG channel 0..2 as the module plays them (filled in by the device from
    // its channel map, DAC width, last output configuration and flash): whether the sample
    // carries the channel, its DC level (code / full code x 3000) and its AC level (code / AC
    // level x AC full scale: 30, or on module 0x2112 300, 15 or 1 by the channel's AC
    // calibration mode, with the factory AC level words of its MCU settings).
    std::array<bool, 3> ppgCarried{};
    std::array<double, 3> ppgDcLevel{};
    std::array<double, 3> ppgAcLevel{};
    // External respiration layout (operate mode 0x23): the three potentiometer codes and the
    // baseline DAC code. Valid when respiration is true.
    bool respiration = false;
    std::array<std::uint16_t, 4> respirationCodes{};
    // The module's resistance made by those codes, ohms (filled in by the device from its
    // flash records; 0 when the sample carries no respiration codes).
    double respirationOhms = 0.0;
    // The rate the device plays the sample at: its sample rate when the packet arrived (from
    // the last OutputConfig; 20000 before any).
    std::uint16_t sampleRate = 20000;
};

struct StreamStats {
    std::uint64_t packets = 0;           // complete stream packets received
    std::uint64_t samples = 0;           // samples decoded
    std::uint64_t truncatedPackets = 0;  // incomplete packets dropped
    std::uint8_t lastOperateMode = 0;
    std::uint16_t lastSequence = 0;   // sequence number of the last sub-packet seen
    std::vector<std::string> errors;  // header and sequence problems, one line each
};

// Decodes 3200-byte stream packets. Checks every sub-packet header (0x01, one operate mode for
// the packet, bytes 2..3 zero, the group count the operate mode implies, the pacing marker within
// the groups, zero fill) and the sequence numbers (consecutive across packets; a packet that starts
// at 0 begins a new playback). Pure: bytes in, samples out.
class StreamDecoder {
  public:
    static constexpr std::size_t kPacketSize = 3200;
    static constexpr std::size_t kSubPacketSize = 64;

    // dcTable: the 4001-entry calibration table used to turn DC codes into millivolts.
    explicit StreamDecoder(std::vector<std::uint16_t> dcTable = DefaultDcTable());
    void SetDcTable(std::vector<std::uint16_t> dcTable);
    // Decodes one packet (packet must hold kPacketSize bytes); appends its samples to out and its
    // problems to errors. Returns false when any check failed (the samples are still decoded).
    bool Decode(const std::uint8_t* packet, std::vector<DecodedSample>* out,
                std::vector<std::string>* errors);
    // Millivolts of a DC code under the table (linear between 1 mV entries).
    double DcMillivolts(std::uint16_t code) const;
    void Reset();  // forget the sequence history and the sample counter

  private:
    std::vector<std::uint16_t> m_table;
    bool m_haveSequence = false;
    std::uint16_t m_nextSequence = 0;
    std::uint64_t m_sampleIndex = 0;
    std::uint64_t m_packetIndex = 0;
};

// The number of sample groups a sub-packet of this operate mode carries (14, 7, 4, 3 or 4 for the
// respiration layout 0x23).
int GroupsPerSubPacket(std::uint8_t operateMode);

// ---------------------------------------------------------------------------------------------
// The device
// ---------------------------------------------------------------------------------------------

struct Options {
    int port = 0;  // n of the node path
    // printf pattern of the node path with exactly one %d (%% for a percent sign). Empty: the
    // TOLVAN_DEVICE_PATTERN environment variable when set, else "/dev/ttyACM%d".
    std::string pattern;
    DeviceConfig config = MakePreset(Preset::kCurrent);
    // Acknowledge each stream packet as soon as it arrives instead of at the pace of playback.
    bool fastAck = false;
    unsigned quietGapMs = 3;  // framing gap of non-stream requests (1..50)
    // Interval of the photodiode sampling reports while sampling is selected.
    unsigned samplingReportIntervalMs = 40;
    // Pause between the restart command (0xDD) and the node's return.
    unsigned restartDowntimeMs = 300;
    std::size_t logCapacity = 20000;       // newest entries kept; 0 = no traffic log
    std::size_t decodedCapacity = 500000;  // newest decoded samples kept; 0 = none kept
    // Called on the device thread for every decoded sample (for example to write a CSV file).
    std::function<void(const DecodedSample&)> sampleSink;
};

class VirtualDevice {
  public:
    // Starts a device: creates the pseudo-terminal, publishes the node and starts the device
    // thread. Returns null and sets *error (when given) when the node cannot be created (the
    // pattern is invalid, the directory is missing or not writable, a non-link file is in the
    // way). An existing symbolic link at the node path is replaced.
    static std::unique_ptr<VirtualDevice> Start(const Options& options,
                                                std::string* error = nullptr);
    ~VirtualDevice();  // Stop()
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    // Stops the device thread, closes the pseudo-terminal and removes the node. Idempotent. After
    // it, Unplug and Replug return at once (Replug with false); the state stays readable.
    void Stop();

    std::string NodePath() const;   // the symbolic link, e.g. "/tmp/x/ttyACM0"
    std::string SlavePath() const;  // the pseudo-terminal slave it points to ("" when unplugged)
    int Port() const;

    // --- traffic log ---
    std::vector<TrafficEntry> Log() const;  // snapshot, oldest first
    void ClearLog();
    // Requests (host to device) in the log, oldest first.
    std::vector<TrafficEntry> Requests() const;
    // Waits until a request for which pred is true is in the log (already there or arriving)
    // and returns the first such; nullopt after the timeout.
    std::optional<TrafficEntry> WaitForRequest(const std::function<bool(const Bytes&)>& pred,
                                               std::chrono::milliseconds timeout) const;
    std::optional<TrafficEntry> WaitForRequest(std::uint8_t firstByte,
                                               std::chrono::milliseconds timeout) const;
    std::size_t CountRequests(const std::function<bool(const Bytes&)>& pred) const;

    // --- fault injection ---
    void AddFault(const FaultRule& rule);
    void ClearFaults();
    // Identify replies carry `mark` at bytes 4..7 from now on (e.g. "QTVX": not a simulator).
    void SetIdentifyMark(const std::array<char, 4>& mark);
    void SetFastAck(bool fast);
    // Unplug: the node disappears and the pseudo-terminal is closed (an open client sees end of
    // file or EIO). Replug: a new pseudo-terminal is published at the same node path; the device
    // state (flash, settings) survives, the stream pace and any sampling are reset. Both wait
    // until the device thread has done it. Replug returns false when the node cannot be made.
    void Unplug();
    bool Replug();
    bool IsPlugged() const;

    // --- flash ---
    // Bytes of a channel (clipped to the channel's size; empty for an unknown channel).
    Bytes ReadFlash(int channel, std::size_t address, std::size_t count) const;
    // Stores bytes; false when the range lies outside the channel.
    bool WriteFlash(int channel, std::size_t address, const Bytes& bytes);
    bool EraseFlash(int channel);  // the whole channel to 0xFF
    // A defective cell: from now on every write of the host that covers the byte at address of
    // the channel (a storage write, or with kMcuMemory an McuWrite of the PPG module's loader)
    // stores it with bit 0 inverted, so that reading it back differs from what was written - a
    // verify mismatch after a firmware burn. The test pokes above are not affected.
    void AddWriteDefect(int channel, std::size_t address);
    void ClearWriteDefects();
    // The DC calibration table in channel 18 (4001 words, big-endian in flash).
    std::vector<std::uint16_t> DcTableInFlash() const;

    // --- device state as the host configured it ---
    Bytes LastOutputConfig() const;       // last full OutputConfig (17 bytes), empty if none
    Bytes LastShortOutputConfig() const;  // last short OutputConfig (8 bytes), empty if none
    std::uint16_t SampleRate() const;     // from the last OutputConfig; 20000 before any
    // Value bytes 4..63 stored under a setting id (SettingWrite, SettingWriteShort, the
    // respiration module words (id 0x0D) and baseline (id 0x0E)); 60 bytes, zero when never set.
    Bytes Setting(std::uint8_t id) const;
    Bytes ModuleBlock(int block) const;       // 64-byte module parameter block 0 or 1
    std::uint8_t ConverterSelection() const;  // last ConverterSelect value (0 = none)
    bool IsSampling() const;                  // photodiode sampling reports are being sent
    bool LoaderActive() const;                // the module's MCU loader is entered
    Bytes McuMemory(std::size_t address, std::size_t count) const;
    int RestartCount() const;  // Restart (0xDD) commands and MCU restarts handled
    bool DynamicLedEnabled() const;
    std::uint8_t AmbientLightMode() const;

    // --- decoded stream ---
    std::vector<DecodedSample> DecodedSamples() const;  // snapshot, oldest first
    StreamStats Stats() const;
    void ClearDecoded();
    // Waits until at least `packets` stream packets have been received since the start or the
    // last ClearDecoded (which also resets Stats and the decoder's sequence history).
    bool WaitForPackets(std::uint64_t packets, std::chrono::milliseconds timeout) const;

    struct Impl;

  private:
    explicit VirtualDevice(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// Formats the node path of port n under pattern; false when the pattern does not hold exactly
// one %d (and no other conversion than %%).
bool FormatNodePath(const std::string& pattern, int port, std::string* path);

// Human-readable hex of bytes ("55 00 00").
std::string Hex(const Bytes& bytes);

}  // namespace vdev
