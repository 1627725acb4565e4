// Identification: is the thing behind the open port the simulator?
#include <cstdint>

#include "link/Device.h"
#include "platform/Clock.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Exchange.h"
#include "protocol/commands/ModuleCommands.h"
#include "protocol/commands/QueryCommands.h"
#include "session/Poll.h"

namespace {

// Drains what the port holds. Bounded, so that a device that talks without pause cannot keep
// the search here for ever.
void DrainLink() {
    constexpr std::int64_t kDrainLimitNs = 2000000000LL;
    const std::int64_t start = MonotonicNanos();
    std::uint8_t buffer[64];
    while (DeviceReadData(buffer, sizeof buffer) > 0) {
        if (MonotonicNanos() - start > kDrainLimitNs) break;
    }
}

// Stops photodiode sampling of a PPG module. A module left sampling (by a process that ended
// without stopping it) keeps sending reports into the port, and nothing here can know, so the
// stop is sent unconditionally; the reply (none without a module) is read and ignored.
void StopModuleSampling() {
    CDeviceCommand command;
    if (!command.Ready()) return;
    std::uint8_t reply[kCommandReplyLength];
    ExchangeCommand(BuildConverterSelect(kConverterStop), 0, reply, sizeof reply);
}

}  // namespace

bool IsTargetDevice() {
    StopModuleSampling();
    DrainLink();
    CDeviceCommand command;
    if (!command.Ready()) return false;
    std::uint8_t reply[kIdentifyReplyLength] = {};
    int got = ExchangeCommand(BuildIdentify(), kIdentifyWaitMs, reply, sizeof reply);
    if (got < 0) return false;
    auto identify = ParseIdentifyReply(reply, static_cast<std::size_t>(got));
    if (!identify.ok()) return false;
    UpdateDeviceInformation();
    g_ModelInfo.SerialSequence = identify.value.serialSequence;
    return true;
}
