// The reasons a search pass met for not taking a port (see PortRefusal in Device.h).
#include <mutex>
#include <string>

#include "link/Device.h"

namespace {

// Written by whoever runs the search (the connect thread; tests call the search directly), read
// by TOLVConnect once the search has ended. A leaf lock.
struct SearchPass {
    std::mutex mutex;
    PortRefusal kind = PortRefusal::kNone;
    std::string text;
    std::string firstMissing, lastMissing;  // nodes that did not exist, for a scan
};

SearchPass& Pass() {
    static auto* pass = new SearchPass;  // never destroyed: the connect thread may outlive exit
    return *pass;
}

}  // namespace

void BeginSearchPass() {
    std::lock_guard<std::mutex> lock(Pass().mutex);
    SearchPass& pass = Pass();
    pass.kind = PortRefusal::kNone;
    pass.text.clear();
    pass.firstMissing.clear();
    pass.lastMissing.clear();
}

void NotePortRefusal(PortRefusal kind, const std::string& text) {
    std::lock_guard<std::mutex> lock(Pass().mutex);
    SearchPass& pass = Pass();
    if (kind == PortRefusal::kNoNode) {
        if (pass.firstMissing.empty()) pass.firstMissing = text;
        pass.lastMissing = text;
    }
    if (kind > pass.kind) {
        pass.kind = kind;
        pass.text = text;
    }
}

std::string SearchPassReason() {
    std::lock_guard<std::mutex> lock(Pass().mutex);
    const SearchPass& pass = Pass();
    if (pass.kind != PortRefusal::kNoNode) return pass.text;
    if (pass.firstMissing == pass.lastMissing) return "no such node: " + pass.firstMissing;
    return "no such node: " + pass.firstMissing + " .. " + pass.lastMissing;
}
