// Stream packets built by hand for the device tests.
#pragma once

#include <functional>

#include "vdev/VirtualDevice.h"

namespace vdevtest {

// One group's 16-bit values, in wire order.
using GroupValues = std::function<std::vector<std::uint16_t>(int sample)>;

// A 3200-byte packet of the operate mode: `groups` groups per sub-packet, sequence numbers from
// firstSequence, values from the function (sample counts from 0 within the packet).
inline vdev::Bytes MakePacket(std::uint8_t mode, int groups, std::uint16_t firstSequence,
                              const GroupValues& values) {
    vdev::Bytes packet(3200, 0);
    int sample = 0;
    for (int j = 0; j < 50; ++j) {
        std::uint8_t* sub = packet.data() + 64 * j;
        sub[0] = 0x01;
        sub[1] = mode;
        sub[5] = static_cast<std::uint8_t>(groups);
        const auto sequence = static_cast<std::uint16_t>(firstSequence + j);
        sub[6] = static_cast<std::uint8_t>(sequence >> 8);
        sub[7] = static_cast<std::uint8_t>(sequence & 0xFF);
        std::size_t at = 8;
        for (int k = 0; k < groups; ++k) {
            for (std::uint16_t v : values(sample)) {
                sub[at++] = static_cast<std::uint8_t>(v >> 8);
                sub[at++] = static_cast<std::uint8_t>(v & 0xFF);
            }
            ++sample;
        }
    }
    return packet;
}

// An ECG-only packet (mode 3): DC code `dc`, AC code of `acMillivolts` (1600 codes per mV).
inline vdev::Bytes EcgPacket(std::uint16_t firstSequence, std::uint16_t dc, double acMillivolts) {
    const auto ac = static_cast<std::uint16_t>(static_cast<std::int16_t>(acMillivolts * 1600));
    return MakePacket(3, 14, firstSequence, [=](int) {
        return std::vector<std::uint16_t>{dc, ac};
    });
}

}  // namespace vdevtest
