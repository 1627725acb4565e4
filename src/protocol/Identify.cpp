// Identification: is the thing behind the open port the simulator?
#include "protocol/Identify.h"

#include <cstdint>

#include "link/Device.h"
#include "platform/Clock.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "protocol/Exchange.h"
#include "protocol/commands/ModuleCommands.h"
#include "protocol/commands/QueryCommands.h"

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
    Transact(BuildConverterSelect(kConverterStop));
}

// The port search identifies every port it opens through this function.
struct IdentificationRegistrar {
    IdentificationRegistrar() { SetPortIdentification(IsTargetDevice); }
} s_identificationRegistrar;

}  // namespace

bool IsTargetDevice() {
    // The whole identification is one command. The port counts as open from the moment it is
    // opened, so an application thread may already send commands; one that slipped in between
    // the steps would have its reply drained here, or its reply (arriving late, after the drain)
    // taken for the identification's, which then refuses the simulator and leaves its own reply
    // in flight for the next search pass.
    CDeviceCommand command;
    if (!command.Ready()) return false;
    StopModuleSampling();
    DrainLink();
    auto identify =
        Transact<kIdentifyReplyLength>(BuildIdentify(), ParseIdentifyReply, kIdentifyWaitMs);
    if (!identify.ok()) return false;
    UpdateDeviceInformation();
    g_ModelInfo.SerialSequence = identify.value.serialSequence;
    return true;
}
