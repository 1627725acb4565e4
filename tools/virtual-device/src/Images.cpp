// Firmware images for the device's loaders.
#include <algorithm>

#include "DeviceModel.h"
#include "vdev/VirtualDevice.h"

namespace vdev {

namespace {

Bytes MakeImage(const std::array<std::uint8_t, 4>& mark, const std::array<std::uint8_t, 4>& version,
                std::size_t size) {
    size = std::max(size, kImageVersionOffset + 4);
    Bytes image(size);
    std::uint32_t state = 0x2545F491u;
    for (std::uint8_t& byte : image) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    std::copy(mark.begin(), mark.end(), image.begin() + kImageMarkOffset);
    std::copy(version.begin(), version.end(), image.begin() + kImageVersionOffset);
    return image;
}

}  // namespace

Bytes MakeFirmwareImage(const std::array<std::uint8_t, 4>& version, std::size_t size) {
    return MakeImage({{'T', 'O', 'L', 'V'}}, version, std::max<std::size_t>(size, 122880));
}

Bytes MakeMcuImage(const std::array<std::uint8_t, 4>& version, std::size_t size) {
    return MakeImage({{0x32, 0x54, 0x46, 0x32}}, version, size);
}

}  // namespace vdev
