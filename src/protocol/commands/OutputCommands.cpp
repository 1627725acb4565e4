#include "protocol/commands/OutputCommands.h"

#include <algorithm>

#include "protocol/commands/Bytes.h"

namespace {

// The header of both forms: 00 FF, operate mode, sample rate, relay word.
template <std::size_t N>
void PutOutputConfigHeader(CommandRequest<N>& frame, std::uint8_t operateMode,
                           std::uint32_t sampleRate, std::uint32_t relayWord) {
    frame[0] = 0x00;
    frame[1] = 0xFF;
    frame[2] = operateMode;
    PutBigEndian16(frame.data() + 3,
                   static_cast<std::uint16_t>(std::min<std::uint32_t>(sampleRate, 0xFFFF)));
    PutBigEndian24(frame.data() + 5, relayWord & 0xFFFFFF);
}

}  // namespace

OutputConfigRequest BuildOutputConfig(const OutputConfigFields& fields) {
    OutputConfigRequest frame{};
    PutOutputConfigHeader(frame, fields.operateMode, fields.sampleRate, fields.relayWord);
    static constexpr int kChannelAt[3] = {1, 2, 0};  // PPG channel of frame bytes 8.., 11..
    for (int i = 0; i < 3; ++i) {
        frame[8 + i] = fields.ledSyncCode[kChannelAt[i]];
        frame[11 + i] = fields.acCalibrationMode[kChannelAt[i]];
    }
    return frame;
}

CommandRequest<kOutputConfigShortRequestLength> BuildOutputConfigShort(std::uint32_t sampleRate,
                                                                       std::uint32_t relayWord) {
    CommandRequest<kOutputConfigShortRequestLength> frame{};
    PutOutputConfigHeader(frame, kOperateModeEcg, sampleRate, relayWord);
    return frame;
}

int StreamPpgSlotCount(std::uint8_t operateMode) {
    return ((operateMode & 0x04) ? 1 : 0) + ((operateMode & 0x08) ? 1 : 0) +
           ((operateMode & 0x10) ? 1 : 0);
}

int StreamGroupsPerSubPacket(std::uint8_t operateMode) {
    if (operateMode == kOperateModeExternalRespiration) return 4;
    return 14 / (1 + StreamPpgSlotCount(operateMode));
}

int StreamGroupBytes(std::uint8_t operateMode) {
    if (operateMode == kOperateModeExternalRespiration) return 12;
    return 4 * (1 + StreamPpgSlotCount(operateMode));
}

void WriteStreamSubPacketHeader(std::uint8_t* subPacket, std::uint8_t operateMode,
                                std::uint8_t groups, std::uint16_t sequence) {
    subPacket[0] = 0x01;
    subPacket[1] = operateMode;
    subPacket[2] = 0x00;
    subPacket[3] = 0x00;
    subPacket[4] = 0x00;
    subPacket[5] = groups;
    PutBigEndian16(subPacket + 6, sequence);
}

StreamPacket BuildStreamStopPacket(std::uint8_t operateMode, std::uint16_t dcCodeOfZero,
                                   std::uint16_t firstSequence,
                                   const StopRespirationCodes& respiration) {
    StreamPacket packet{};
    const bool respirationLayout = operateMode == kOperateModeExternalRespiration;
    const bool carriesEcg = (operateMode & 0x03) != 0;
    const int slots = StreamPpgSlotCount(operateMode);
    const int channels = slots + (carriesEcg ? 1 : 0);
    int groups = 0;
    int stride = 0;
    if (respirationLayout) {
        groups = 4;
        stride = 12;
    } else if (channels > 0) {
        groups = 14 / channels;
        stride = 4 * (slots + 1);
    }
    for (std::size_t j = 0; j < kStreamSubPackets; ++j) {
        std::uint8_t* sub = packet.data() + j * kStreamSubPacketLength;
        WriteStreamSubPacketHeader(sub, operateMode, static_cast<std::uint8_t>(groups),
                                   static_cast<std::uint16_t>(firstSequence + j));
        if (!carriesEcg) continue;
        for (int k = 0; k < groups; ++k) {
            std::uint8_t* group = sub + kStreamGroupsOffset + k * stride;
            PutBigEndian16(group, dcCodeOfZero);  // the AC code (bytes 2..3) stays 0
            if (respirationLayout) {
                for (int r = 0; r < 3; ++r) PutBigEndian16(group + 4 + 2 * r, respiration.dac[r]);
                PutBigEndian16(group + 10, respiration.baseline);
            }
        }
    }
    return packet;
}
