// Output configuration (00 FF ...) and the frame of the sample stream (01 ...).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/commands/CommandTypes.h"

// ---- OutputConfig -------------------------------------------------------------------------
// Full form, 17 bytes:
//   0 00   1 FF   2 operate mode   3..4 sample rate (samples/s, big-endian)
//   5 relay bits 16..23   6 relay bits 8..15   7 relay bits 0..7
//   8..10  LED synchronisation code of PPG channels 1, 2, 0
//   11..13 AC calibration mode of PPG channels 1, 2, 0      14..16 00
// Read one 64-byte reply after it and do not test it.
constexpr std::size_t kOutputConfigRequestLength = 17;
// Short form: the first 8 bytes with operate mode 3 (used by lead-off and right-leg-drive
// measurement). Read one 64-byte reply; success when all 64 came back (CheckReplyComplete).
constexpr std::size_t kOutputConfigShortRequestLength = 8;
constexpr std::uint8_t kOperateModeEcg = 3;

struct OutputConfigFields {
    std::uint8_t operateMode = kOperateModeEcg;
    // Sample rate in samples per second; values above 65535 are sent as 65535.
    std::uint32_t sampleRate = 0;
    // Relay word; bits 0..23 are sent, higher bits are ignored.
    std::uint32_t relayWord = 0;
    // Indexed by PPG channel 0..2 (the frame orders them 1, 2, 0).
    std::array<std::uint8_t, 3> ledSyncCode{};
    std::array<std::uint8_t, 3> acCalibrationMode{};
};

using OutputConfigRequest = CommandRequest<kOutputConfigRequestLength>;

OutputConfigRequest BuildOutputConfig(const OutputConfigFields& fields);
CommandRequest<kOutputConfigShortRequestLength> BuildOutputConfigShort(std::uint32_t sampleRate,
                                                                       std::uint32_t relayWord);

// Decides whether a full OutputConfig must go on the wire: a request byte-for-byte equal to the
// last one the device received is not sent again unless forced. Only requests whose write
// completed are remembered, so a failed write is retried by the next call even when unforced;
// forget the last request whenever the link is (re)opened, since a new device connection starts
// from an unknown configuration.
class OutputConfigFilter {
  public:
    bool MustSend(const OutputConfigRequest& request, bool force) const {
        return force || !m_hasLast || request != m_last;
    }
    // Call after the 17 bytes were written completely.
    void RecordWritten(const OutputConfigRequest& request) {
        m_last = request;
        m_hasLast = true;
    }
    void Forget() { m_hasLast = false; }

  private:
    OutputConfigRequest m_last{};
    bool m_hasLast = false;
};

// ---- StreamData ---------------------------------------------------------------------------
// 3200 bytes: fifty 64-byte sub-packets. Sub-packet header: 0 01, 1 operate mode, 2..3 00,
// 4 pacing marker, 5 sample groups in this sub-packet, 6..7 sequence number (big-endian);
// sample groups of 16-bit big-endian codes from byte 8. No reply is read per packet (the poll
// thread consumes the acknowledgements). The stop packet is followed by one 64-byte reply read,
// which is not tested.
constexpr std::size_t kStreamPacketLength = 3200;
constexpr std::size_t kStreamSubPacketLength = 64;
constexpr std::size_t kStreamSubPackets = 50;
constexpr std::size_t kStreamGroupsOffset = 8;
constexpr std::uint8_t kOperateModeExternalRespiration = 0x23;

using StreamPacket = std::array<std::uint8_t, kStreamPacketLength>;

// Number of PPG slots of an operate mode (bits 0x04, 0x08 and 0x10).
int StreamPpgSlotCount(std::uint8_t operateMode);
// Sample groups per sub-packet: 4 for 0x23, else 14 / (1 + PPG slots).
int StreamGroupsPerSubPacket(std::uint8_t operateMode);
// Bytes of one sample group: 12 for 0x23, else 4 * (1 + PPG slots).
int StreamGroupBytes(std::uint8_t operateMode);
// Writes bytes 0..7 of a sub-packet (pacing marker 0).
void WriteStreamSubPacketHeader(std::uint8_t* subPacket, std::uint8_t operateMode,
                                std::uint8_t groups, std::uint16_t sequence);

// Codes that the stop packet carries on the external respiration module's channels.
struct StopRespirationCodes {
    std::array<std::uint16_t, 3> dac{};  // respiration DAC codes 0..2
    std::uint16_t baseline = 0;          // respiration baseline DAC code
};

// The stop packet: every sub-packet's groups hold the DC code of 0 mV and AC code 0 (PPG codes
// 0). Sub-packet j carries sequence firstSequence + j; the caller then restarts its sequence
// at 0. Operate mode 0x23 uses that mode's own layout, 4 groups of 12 bytes, with the given
// respiration codes; an operate mode without the ECG bits (0..1) carries headers only.
StreamPacket BuildStreamStopPacket(std::uint8_t operateMode, std::uint16_t dcCodeOfZero,
                                   std::uint16_t firstSequence,
                                   const StopRespirationCodes& respiration = {});
