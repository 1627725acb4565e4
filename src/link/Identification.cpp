// The identification that the port search runs on every port it opens (it needs device
// commands, which the protocol layer above owns, so that layer registers it at load), and the
// interruption of the search's pauses.
#include <atomic>

#include "link/Device.h"

namespace {

// Written at load (static initialisation of the protocol layer), read by the connect thread.
std::atomic<PortIdentification> s_PortIdentification{nullptr};

// Set while the session that searches is being ended: the search's pauses end at once.
CManualResetEvent s_hSearchInterrupted;

}  // namespace

void SetPortIdentification(PortIdentification identify) {
    s_PortIdentification = identify;
}

bool IdentifyPort() {
    const PortIdentification identify = s_PortIdentification.load();
    return identify != nullptr && identify();
}

void InterruptDeviceSearch(bool interrupt) {
    if (interrupt) {
        s_hSearchInterrupted.SetEvent();
    } else {
        s_hSearchInterrupted.ResetEvent();
    }
}

bool SearchPause(unsigned ms) {
    return s_hSearchInterrupted.WaitTimeout(ms) == 0;
}
