// Tick timer on a Grand Central Dispatch timer source; the first tick comes at once.
#include <dispatch/dispatch.h>

#include <cstdint>

#include "platform/TickTimerSystem.h"

namespace {
void Handler(void* context) {
    TickTimerExpired(reinterpret_cast<std::uintptr_t>(context));
}
}  // namespace

void* SystemTimerStart(int periodMs, std::uintptr_t id) {
    dispatch_queue_t queue = dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0);
    dispatch_source_t source = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, queue);
    if (source == nullptr) return nullptr;
    dispatch_source_set_timer(source, dispatch_walltime(nullptr, 0),
                              static_cast<std::uint64_t>(periodMs) * NSEC_PER_MSEC, NSEC_PER_MSEC);
    dispatch_set_context(source, reinterpret_cast<void*>(id));
    dispatch_source_set_event_handler_f(source, Handler);
    dispatch_resume(source);
    return source;
}

void SystemTimerStop(void* native) {
    if (native == nullptr) return;
    auto source = static_cast<dispatch_source_t>(native);
    dispatch_source_cancel(source);
    dispatch_release(source);
}
