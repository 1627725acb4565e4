#include "ppg/ModuleControl.h"

#include <cstdint>

#include "link/Device.h"
#include "protocol/Discipline.h"
#include "protocol/Exchange.h"
#include "protocol/commands/ModuleCommands.h"
#include "session/SessionHooks.h"
#include "tolvan.h"

bool EnableDynamicLEDStrength(int enable) {
    return TransactOk(BuildDynamicLEDEnable(enable != 0), CheckDynamicLEDEnableReply);
}

extern "C" TOLV_API bool TOLVEnableDynamicLEDStrength(bool enable) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (!DeviceIsConnected()) return false;
    CDeviceCommand command;
    return command.Ready() && EnableDynamicLEDStrength(enable ? 1 : 0);
}

namespace {

// Once the device's data is loaded at a connect, dynamic LED strength goes off.
struct SessionHooksRegistrar {
    SessionHooksRegistrar() {
        RegisterSessionHook(SessionPoint::kDeviceLoaded, [] { EnableDynamicLEDStrength(0); });
    }
} s_sessionHooksRegistrar;

}  // namespace
