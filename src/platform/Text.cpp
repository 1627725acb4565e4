#include "platform/Text.h"

#include <cstring>
#include <memory>

void StringTrimRight(char* s) {
    if (s == nullptr) return;
    std::size_t n = std::strlen(s);
    while (n > 0 && IsTextSpace(s[n - 1])) --n;
    s[n] = '\0';
}

void StringTrimLeft(char* s) {
    if (s == nullptr) return;
    std::size_t skip = 0;
    while (s[skip] != '\0' && IsTextSpace(s[skip])) ++skip;
    if (skip > 0) std::memmove(s, s + skip, std::strlen(s + skip) + 1);
}

void StringTrim(char* s) {
    StringTrimRight(s);
    StringTrimLeft(s);
}

int ParseBySpace(char* s, char** fields, int max) {
    if (s == nullptr || fields == nullptr || max <= 0) return 0;
    int count = 0;
    char* p = s;
    while (*p != '\0' && count < max) {
        while (*p != '\0' && IsTextSpace(*p)) ++p;
        if (*p == '\0') break;
        fields[count++] = p;
        while (*p != '\0' && !IsTextSpace(*p)) ++p;
        if (*p != '\0') *p++ = '\0';
    }
    return count;
}

bool ReadFileBinaryData(const char* path, unsigned char** data, unsigned int* size) {
    if (data == nullptr || size == nullptr) return false;
    *data = nullptr;
    *size = 0;
    long long length = GetFileSizeUtf8(path);
    if (length < 0 || length > 0xFFFFFFFFLL) return false;
    std::FILE* f = OpenFileUtf8(path, "rb");
    if (f == nullptr) return false;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(f, std::fclose);
    auto n = static_cast<std::size_t>(length);
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[n + 1]);
    if (!buffer) return false;
    if (std::fread(buffer.get(), 1, n, file.get()) != n) return false;
    *data = buffer.release();
    *size = static_cast<unsigned int>(n);
    return true;
}

bool WriteFileBinaryData(const char* path, const unsigned char* data, unsigned int size) {
    if (data == nullptr && size > 0) return false;
    std::FILE* f = OpenFileUtf8(path, "wb");
    if (f == nullptr) return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0) ok = false;
    return ok;
}

bool ReadTextLine(const unsigned char*& cursor, const unsigned char* end, char* line,
                  std::size_t size) {
    if (cursor == nullptr || end == nullptr || line == nullptr || size == 0) return false;
    while (cursor < end) {
        const unsigned char* start = cursor;
        while (cursor < end && *cursor != '\r' && *cursor != '\n') ++cursor;
        const unsigned char* stop = cursor;
        while (cursor < end && (*cursor == '\r' || *cursor == '\n')) ++cursor;
        bool blank = true;
        for (const unsigned char* p = start; p < stop; ++p) {
            if (!IsTextSpace(static_cast<char>(*p))) {
                blank = false;
                break;
            }
        }
        if (blank) continue;
        std::size_t n = static_cast<std::size_t>(stop - start);
        if (n > size - 1) n = size - 1;
        std::memcpy(line, start, n);
        line[n] = '\0';
        StringTrimRight(line);
        return true;
    }
    return false;
}

int UTF8ToUnicodeChar(const char* s, std::uint16_t* unit) {
    if (s == nullptr || unit == nullptr) return 0;
    auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 == 0) return 0;
    if (b0 < 0x80) {
        *unit = b0;
        return 1;
    }
    auto continuation = [](unsigned char b) { return (b & 0xC0) == 0x80; };
    if ((b0 & 0xE0) == 0xC0) {
        auto b1 = static_cast<unsigned char>(s[1]);
        if (!continuation(b1)) return 0;
        unsigned v = ((b0 & 0x1Fu) << 6) | (b1 & 0x3Fu);
        if (v < 0x80) return 0;  // overlong
        *unit = static_cast<std::uint16_t>(v);
        return 2;
    }
    if ((b0 & 0xF0) == 0xE0) {
        auto b1 = static_cast<unsigned char>(s[1]);
        if (!continuation(b1)) return 0;
        auto b2 = static_cast<unsigned char>(s[2]);
        if (!continuation(b2)) return 0;
        unsigned v = ((b0 & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
        if (v < 0x800) return 0;                   // overlong
        if (v >= 0xD800 && v <= 0xDFFF) return 0;  // surrogate halves are not characters
        *unit = static_cast<std::uint16_t>(v);
        return 3;
    }
    return 0;
}

int UTF8ToUnicodeBuf(const char* s, std::uint16_t* out, int count) {
    if (out == nullptr || count <= 0) return 0;
    int written = 0;
    if (s != nullptr) {
        while (written < count - 1) {
            std::uint16_t unit = 0;
            int used = UTF8ToUnicodeChar(s, &unit);
            if (used == 0) break;
            out[written++] = unit;
            s += used;
        }
    }
    out[written] = 0;
    return written;
}
