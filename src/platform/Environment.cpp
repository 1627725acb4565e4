#include "platform/Environment.h"

#include <cstdio>
#include <cstdlib>

bool IsValidDevicePattern(const char* pattern) {
    if (pattern == nullptr || pattern[0] == '\0') return false;
    int conversions = 0;
    for (const char* p = pattern; *p != '\0'; ++p) {
        if (*p != '%') continue;
        if (p[1] == '%') {
            ++p;
        } else if (p[1] == 'd') {
            ++conversions;
            ++p;
        } else {
            return false;
        }
    }
    return conversions == 1;
}

std::string DevicePattern() {
    const char* env = std::getenv("TOLVAN_DEVICE_PATTERN");
    return IsValidDevicePattern(env) ? std::string(env) : std::string(DefaultDevicePattern());
}

namespace {
// Formats a pattern with exactly one %d (validated by the caller).
std::string FormatPort(const std::string& pattern, int port) {
    int n = std::snprintf(nullptr, 0, pattern.c_str(), port);
    if (n < 0) return std::string();
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(&out[0], out.size(), pattern.c_str(), port);
    out.resize(static_cast<std::size_t>(n));
    return out;
}
}  // namespace

std::string DevicePathForPort(int port) {
    return FormatPort(DevicePattern(), port);
}

std::string DeviceNodeGlob() {
    const std::string pattern = DevicePattern();
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            out += pattern[i + 1] == 'd' ? "*" : "%";
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::string LockDir() {
    const char* env = std::getenv("TOLVAN_LOCK_DIR");
    return (env != nullptr && env[0] != '\0') ? std::string(env) : std::string(DefaultLockDir());
}

std::string LockFilePathForPort(int port) {
    return LockDir() + "/" + FormatPort(LockFileNamePattern(), port);
}
