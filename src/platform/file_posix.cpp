// Files by UTF-8 path on Linux and macOS, where paths are bytes already.
#include <sys/stat.h>

#include "platform/Text.h"

std::FILE* OpenFileUtf8(const char* path, const char* mode) {
    if (path == nullptr || path[0] == '\0' || mode == nullptr) return nullptr;
    return std::fopen(path, mode);
}

long long GetFileSizeUtf8(const char* path) {
    if (path == nullptr || path[0] == '\0') return -1;
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}
