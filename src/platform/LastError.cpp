#include "platform/LastError.h"

#include <mutex>

namespace {

struct LastError {
    std::mutex mutex;
    std::string text;
};

// Never destroyed: a library thread may still record a reason while the process exits.
LastError& State() {
    static auto* state = new LastError;
    return *state;
}

}  // namespace

void SetLastErrorText(const std::string& text) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().text = text;
}

void ClearLastErrorText() {
    SetLastErrorText(std::string());
}

std::string LastErrorText() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().text;
}
