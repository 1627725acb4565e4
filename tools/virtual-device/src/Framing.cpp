#include "Framing.h"

#include <algorithm>

namespace vdev {

const std::vector<std::size_t>& RequestLengths(std::uint8_t firstByte) {
    static const std::vector<std::size_t> kQuery{3}, kStorage{64}, kVersion{2}, kModule{3},
        kLoader{3, 5, 64}, kOutput{8, 17}, kSetting{3, 4, 5, 6, 64}, kConverter{5},
        kPpg{3, 4, 5, 6}, kBlock{3, 19, 64}, kRestart{1}, kUnknown{64};
    switch (firstByte) {
        case 0x55:
            return kQuery;
        case 0x12:
            return kStorage;
        case 0xAA:
            return kVersion;
        case 0xB8:
            return kModule;
        case 0xB9:
            return kLoader;
        case 0x00:
            return kOutput;
        case 0xCC:
            return kSetting;
        case 0xAD:
            return kConverter;
        case 0xB0:
            return kPpg;
        case 0xEA:
            return kBlock;
        case 0xDD:
            return kRestart;
        default:
            return kUnknown;
    }
}

bool StreamPacketStartsAt(const Bytes& rx, std::size_t at) {
    if (rx.size() < at + 128) return false;
    const std::uint8_t* a = rx.data() + at;
    const std::uint8_t* b = a + 64;
    const unsigned seqA = (a[6] << 8) | a[7];
    const unsigned seqB = (b[6] << 8) | b[7];
    return a[0] == 0x01 && b[0] == 0x01 && a[1] == b[1] && a[2] == 0 && a[3] == 0 && b[2] == 0 &&
           b[3] == 0 && seqB == ((seqA + 1) & 0xFFFF);
}

// The loader family's sub-code names its length: the 64-byte frames of McuErase, McuWrite and
// McuRead (sub-codes 02, 03) need no gap, whatever their address bytes hold.
bool IsMcuLoaderFrame(const Bytes& rx) {
    return rx.size() >= 3 && rx[0] == 0xB9 && (rx[2] == 0x02 || rx[2] == 0x03);
}

std::size_t RequestEnd(const Bytes& rx, bool quiet) {
    if (rx.empty()) return 0;
    if (IsMcuLoaderFrame(rx) && rx.size() >= 64) return 64;
    const std::vector<std::size_t>& lengths = RequestLengths(rx[0]);
    const std::size_t longest = lengths.back();
    for (std::size_t length : lengths) {
        if (StreamPacketStartsAt(rx, length)) return length;
    }
    if (lengths.size() == 1 && rx.size() >= longest) return longest;
    if (longest == 64 && rx.size() >= 64) {
        const bool streamMayFollow =
            std::any_of(lengths.begin(), lengths.end() - 1, [&](auto n) { return rx[n] == 0x01; });
        if (!streamMayFollow) return 64;
    }
    if (rx.size() >= longest + 128) return longest;
    if (!quiet) return 0;
    return rx.size() <= 64 ? rx.size() : longest;
}

}  // namespace vdev
