#include "ppg/ModuleControl.h"

#include <cstdint>

#include "link/Device.h"
#include "protocol/Exchange.h"
#include "protocol/commands/ModuleCommands.h"
#include "session/Poll.h"
#include "session/Session.h"
#include "tolvan.h"

bool EnableDynamicLEDStrength(int enable) {
    std::uint8_t reply[kCommandReplyLength];
    int got = ExchangeCommand(BuildDynamicLEDEnable(enable != 0), 0, reply, sizeof reply);
    return got >= 0 &&
           CheckDynamicLEDEnableReply(reply, static_cast<std::size_t>(got)) == ReplyStatus::kOk;
}

extern "C" TOLV_API bool TOLVEnableDynamicLEDStrength(bool enable) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (!DeviceIsConnected()) return false;
    CDeviceCommand command;
    return command.Ready() && EnableDynamicLEDStrength(enable ? 1 : 0);
}
