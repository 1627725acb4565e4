#include "ppg/ModuleControl.h"

#include <cstdint>

#include "protocol/Exchange.h"
#include "protocol/ModuleCommands.h"

bool EnableDynamicLEDStrength(int enable) {
    std::uint8_t reply[kCommandReplyLength];
    int got = ExchangeCommand(BuildDynamicLEDEnable(enable != 0), 0, reply, sizeof reply);
    return got >= 0 &&
           CheckDynamicLEDEnableReply(reply, static_cast<std::size_t>(got)) == ReplyStatus::kOk;
}
