// A firmware update restarts the simulator and finds it again by itself (protocol/Firmware).
// The session keeps its connection across that restart: the connect thread does not tear it
// down, and the connect-time steps run again for the restarted device before the update
// reports its end.
#include "link/Device.h"
#include "link/Monitor.h"
#include "protocol/Firmware.h"
#include "session/Session.h"
#include "session/SessionHooks.h"

namespace {

// Runs inside the update on the application's thread, with the API lock held: relays on with a
// forced configuration, then the device-resident data, as at every connect.
void RestartedDeviceFound() {
    RunSessionHooks(SessionPoint::kDeviceOpened);
    ConnectedPostProcessing();
}

struct LoaderReconnectRegistrar {
    LoaderReconnectRegistrar() { RegisterLoaderReconnectHandler(RestartedDeviceFound); }
} s_loaderReconnectRegistrar;

}  // namespace

bool ConnectionStands() {
    bool alive = DeviceIsAlive();
    // The port may have gone because an update restarts the device: wait for the update to have
    // it back, then look again.
    if (AwaitLoaderRestart()) alive = DeviceIsAlive();
    return alive;
}
