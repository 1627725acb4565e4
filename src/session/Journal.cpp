#include "session/Journal.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Text.h"

namespace {

constexpr std::size_t kPathCapacity = 512;
constexpr std::size_t kEntryLimit = 65536;

// Journal switch and path. Setters read them under the API lock; the switch functions may be
// called from any thread without it, so a small lock of their own keeps them consistent.
std::mutex s_LogMutex;
bool s_SaveLog = false;
char s_LogFilePath[kPathCapacity] = "";

// The largest cut at or below n that does not split a UTF-8 sequence; text[n] must exist.
std::size_t CharacterBoundary(const char* text, std::size_t n) {
    std::size_t cut = n;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

}  // namespace

extern "C" {

TOLV_SERVICE_API int EnableSaveLog(const char* path) {
    std::lock_guard<std::mutex> lock(s_LogMutex);
    if (path == nullptr || std::strlen(path) >= kPathCapacity) {
        s_SaveLog = false;
        return -2;
    }
    std::snprintf(s_LogFilePath, sizeof s_LogFilePath, "%s", path);
    s_SaveLog = true;
    return 0;
}

TOLV_SERVICE_API void DisableSaveLog(void) {
    {
        std::lock_guard<std::mutex> lock(s_LogMutex);
        if (!s_SaveLog) return;
    }
    _outputLog("%s", "\n");
    std::lock_guard<std::mutex> lock(s_LogMutex);
    s_SaveLog = false;
    s_LogFilePath[0] = '\0';
}

TOLV_SERVICE_API const char* GetSaveLogPath(void) {
    return s_LogFilePath;
}

}  // extern "C"

void _outputLog(const char* format, ...) {
    if (format == nullptr) return;
    std::string path;
    {
        std::lock_guard<std::mutex> lock(s_LogMutex);
        if (!s_SaveLog) return;
        path = s_LogFilePath;
    }
    // Binary: every entry ends in "\n" alone, on Windows too.
    std::FILE* file = OpenFileUtf8(path.c_str(), "a+b");
    if (file == nullptr) return;
    char small[512];
    std::vector<char> large;
    const char* text = small;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::size_t length = n < 0 ? 0 : static_cast<std::size_t>(n);
    if (length >= sizeof small) {
        const std::size_t kept = length < kEntryLimit ? length : kEntryLimit;
        large.resize(length + 1);
        std::vsnprintf(large.data(), large.size(), format, again);
        length = CharacterBoundary(large.data(), kept);
        text = large.data();
    }
    va_end(again);
    std::fwrite(text, 1, length, file);
    std::fputc('\n', file);
    std::fclose(file);
}
