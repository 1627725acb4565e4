#include "protocol/Exchange.h"

#include "link/Device.h"

int ExchangeCommand(const std::uint8_t* request, std::size_t requestLength, unsigned waitMs,
                    std::uint8_t* reply, std::size_t replyLength) {
    const int length = static_cast<int>(requestLength);
    if (request == nullptr || length <= 0 || DeviceWriteData(request, length, 1) != length) {
        return kShortWrite;
    }
    if (waitMs > 0) SleepEx(waitMs);
    if (reply == nullptr || replyLength == 0) return 0;
    return DeviceReadData(reply, static_cast<int>(replyLength));
}
