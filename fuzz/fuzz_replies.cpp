// Every reply parser of the device command set, and the photodiode sampling report decoder: the
// device is untrusted input too. The first input byte picks the parser (and, for the parsers
// that copy data out, the count asked for); the rest is the reply exactly as DeviceReadData
// returned it, in a buffer of exactly that size so that a read past "received" is caught.
#include <cstdint>
#include <cstring>
#include <vector>

#include "ppg/PdSampling.h"
#include "protocol/commands/Commands.h"

namespace {

volatile int g_sink;

template <typename T>
void Use(const ParsedReply<T>& parsed) {
    g_sink = static_cast<int>(parsed.status);
    if (parsed.ok()) g_sink = static_cast<int>(sizeof(parsed.value));
}
void Use(ReplyStatus status) {
    g_sink = static_cast<int>(status);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned selector = data[0];
    const std::size_t received = size - 1;
    // Exactly `received` bytes on the heap (nullptr when none, as the parsers allow).
    std::vector<std::uint8_t> owned(data + 1, data + size);
    const std::uint8_t* reply = received == 0 ? nullptr : owned.data();
    // Counts up to 63 so that the parsers' own limits (48, 24, 52) are crossed too.
    const std::size_t count = selector >> 2;
    std::uint8_t bytes[64];
    std::uint16_t words[64];
    switch (selector & 0x1F) {
        case 0:
            Use(ParseIdentifyReply(reply, received));
            break;
        case 1:
            g_sink = ParseDacWidthQueryReply(reply, received);
            break;
        case 2:
            Use(ParseHardwareVersionQueryReply(reply, received));
            break;
        case 3:
            Use(ParseFirmwareVersionQueryReply(reply, received));
            break;
        case 4:
            Use(ParseModuleVersionQueryReply(reply, received));
            break;
        case 5:
            Use(ParseStorageReadReply(reply, received, bytes, count));
            break;
        case 6:
            Use(ParseStorageReadWordsReply(reply, received, words, count));
            break;
        case 7:
            Use(CheckStorageWriteReply(reply, received));
            break;
        case 8:
            Use(ParseSettingReadReply8(reply, received));
            break;
        case 9:
            Use(ParseSettingReadReply16(reply, received));
            break;
        case 10:
            Use(CheckSettingWriteReply(reply, received));
            break;
        case 11:
            Use(ParseSettingReadShortReply(reply, received, static_cast<std::uint8_t>(count)));
            break;
        case 12:
            g_sink = static_cast<int>(ParseBusVoltageReadReply(reply, received));
            break;
        case 13:
            Use(ParseRespModuleReadReply(reply, received));
            break;
        case 14:
            Use(CheckRespModuleWriteReply(reply, received));
            break;
        case 15:
            Use(ParseRespBaselineReadReply(reply, received));
            break;
        case 16:
            Use(CheckConverterSelectReply(reply, received));
            break;
        case 17:
            Use(ParseRLDReadReply(reply, received));
            break;
        case 18:
            Use(CheckSignalStrengthEnableReply(reply, received));
            break;
        case 19: {
            const auto parsed = ParseSamplingStatusReadReply(reply, received);
            Use(parsed);
            if (parsed.ok()) g_sink = DecodeSamplingStatus(parsed.value).first[0];
            break;
        }
        case 20:
            Use(ParsePDStatusReadReply(reply, received));
            break;
        case 21:
            Use(CheckDynamicLEDEnableReply(reply, received));
            break;
        case 22:
            Use(ParseAmbientLightReadReply(reply, received));
            break;
        case 23: {
            const auto parsed = ParseAutoTriggerReadReply(reply, received);
            Use(parsed);
            if (parsed.ok()) g_sink = AutoTriggerRecordToHostOrder(parsed.value)[0];
            break;
        }
        case 24:
            Use(ParseModuleBlockReadReply(reply, received));
            break;
        case 25:
            Use(CheckModuleBlockWriteReply(reply, received));
            break;
        case 26:
            Use(ParseLEDPulseGroupReadReply(reply, received));
            break;
        case 27:
            Use(CheckLoaderModeReply(reply, received));
            break;
        case 28:
            Use(ParseMcuReadReply(reply, received, bytes, count));
            break;
        case 29:
            Use(CheckReplyAcknowledged(reply, received, count % 64));
            break;
        default:
            ForEachPDSample(reply, received, [](int input, int value, int status) {
                g_sink = input + value + status;
            });
            break;
    }
    return 0;
}
