#include "recordings/FileReading.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>

#include "platform/Text.h"

FileHandle OpenRegularFileForReading(const char* path, long long* size) {
    long long length = GetFileSizeUtf8(path);  // -1 for empty paths and non-regular files
    if (length < 0) return FileHandle();
    FileHandle file(OpenFileUtf8(path, "rb"));
    if (file && size != nullptr) *size = length;
    return file;
}

bool LineReader::Next(std::string& line) {
    line.clear();
    if (m_file == nullptr) return false;
    char chunk[4096];
    bool any = false;
    while (std::fgets(chunk, sizeof chunk, m_file) != nullptr) {
        any = true;
        std::size_t n = std::strlen(chunk);
        bool ended = n > 0 && chunk[n - 1] == '\n';
        if (ended) --n;
        if (line.size() < kMaxLine) line.append(chunk, std::min(n, kMaxLine - line.size()));
        if (ended) return true;
    }
    return any;
}

void TrimLineEnd(std::string& line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
}

bool SeekFile(std::FILE* file, long long offset) {
    if (file == nullptr || offset < 0) return false;
#if defined(_WIN32)
    return _fseeki64(file, offset, SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}
