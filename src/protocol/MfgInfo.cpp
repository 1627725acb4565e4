#include "protocol/MfgInfo.h"

#include <algorithm>

#include "protocol/Discipline.h"
#include "protocol/Storage.h"
#include "tolvan.h"

bool ReadECGMfgInfo(std::uint8_t* bytes, std::size_t n) {
    if (bytes == nullptr) return false;
    return FlashRead(StorageChannel::kFirmware, kManufacturingTextAddress, bytes,
                     std::min(n, kManufacturingTextMaxBytes));
}

bool WriteECGMfgInfo(const std::uint8_t* bytes, std::size_t n) {
    if (bytes == nullptr) return false;
    if (!FlashErase(StorageChannel::kFirmware, kManufacturingTextAddress)) return false;
    return FlashWrite(StorageChannel::kFirmware, kManufacturingTextAddress, bytes,
                      std::min(n, kManufacturingTextMaxBytes));
}

namespace {

int TransferredBytes(int length) {
    return static_cast<int>(std::min(static_cast<std::size_t>(length), kManufacturingTextMaxBytes));
}

}  // namespace

extern "C" {

TOLV_SERVICE_API int TOLVReadMfgInfo(uint8_t* buffer, int length) {
    if (buffer == nullptr || length < 1) return -2;
    return RunDeviceCommand(0, [&] {
        const int count = TransferredBytes(length);
        return ReadECGMfgInfo(buffer, static_cast<std::size_t>(count)) ? count : 0;
    });
}

TOLV_SERVICE_API int TOLVWriteMfgInfo(const uint8_t* buffer, int length) {
    if (buffer == nullptr || length < 1) return -2;
    return RunDeviceCommand(0, [&] {
        const int count = TransferredBytes(length);
        return WriteECGMfgInfo(buffer, static_cast<std::size_t>(count)) ? count : 0;
    });
}

}  // extern "C"
