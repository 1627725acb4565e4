// Files by UTF-8 path on Windows: the path is converted to UTF-16 for the wide C runtime.
#define WIN32_LEAN_AND_MEAN
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <string>

#include "platform/Text.h"

namespace {
bool Widen(const char* utf8, std::wstring* wide) {
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (n <= 0) return false;
    wide->assign(static_cast<std::size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &(*wide)[0], n) <= 0) {
        return false;
    }
    wide->resize(static_cast<std::size_t>(n - 1));
    return true;
}
}  // namespace

std::FILE* OpenFileUtf8(const char* path, const char* mode) {
    if (path == nullptr || path[0] == '\0' || mode == nullptr) return nullptr;
    std::wstring widePath, wideMode;
    if (!Widen(path, &widePath) || !Widen(mode, &wideMode)) return nullptr;
    return _wfopen(widePath.c_str(), wideMode.c_str());
}

long long GetFileSizeUtf8(const char* path) {
    if (path == nullptr || path[0] == '\0') return -1;
    std::wstring widePath;
    if (!Widen(path, &widePath)) return -1;
    struct _stat64 st;
    if (_wstat64(widePath.c_str(), &st) != 0 || (st.st_mode & _S_IFREG) == 0) return -1;
    return static_cast<long long>(st.st_size);
}
