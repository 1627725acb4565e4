// The identification that the port search runs on every port it opens. It needs device
// commands, which the protocol layer above owns, so that layer registers it at load.
#include <atomic>

#include "link/Device.h"

namespace {

// Written at load (static initialisation of the protocol layer), read by the connect thread.
std::atomic<PortIdentification> s_PortIdentification{nullptr};

}  // namespace

void SetPortIdentification(PortIdentification identify) {
    s_PortIdentification = identify;
}

bool IdentifyPort() {
    const PortIdentification identify = s_PortIdentification.load();
    return identify != nullptr && identify();
}
