// What every variant of the hot-plug monitor shares: the event that wakes the connect thread.
#include "link/Monitor.h"

CAutoResetEvent g_hReconnectEvent;

void ReconnectDevice() {
    g_hReconnectEvent.SetEvent();
}
