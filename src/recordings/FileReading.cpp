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
    bool cut = false;  // a NUL byte ended the line's text; the rest up to the LF is skipped
    for (;;) {
        // The chunk holds no LF before the read, so an LF in it is the one that ends the line,
        // wherever a NUL byte may have ended the text before it.
        std::memset(chunk, 0, sizeof chunk);
        if (std::fgets(chunk, sizeof chunk, m_file) == nullptr) break;
        any = true;
        const bool ended = std::memchr(chunk, '\n', sizeof chunk - 1) != nullptr;
        std::size_t n = std::strlen(chunk);
        if (ended && n > 0 && chunk[n - 1] == '\n') --n;
        if (!cut && line.size() < kMaxLine) line.append(chunk, std::min(n, kMaxLine - line.size()));
        if (!ended && n < sizeof chunk - 1) cut = true;  // stopped at a NUL, not at the chunk's end
        if (ended) return true;
    }
    return any;
}

BlockLineReader::BlockLineReader(std::FILE* file, long long sizeHint) : m_file(file) {
    const long long first = std::clamp<long long>(sizeHint, 0, static_cast<long long>(kBlock));
    Grow(static_cast<std::size_t>(first) + 2);
}

void BlockLineReader::Compact() {
    if (m_begin == 0) return;
    std::memmove(m_buffer.get(), m_buffer.get() + m_begin, m_end - m_begin);
    m_end -= m_begin;
    m_begin = 0;
}

void BlockLineReader::Grow(std::size_t capacity) {
    std::unique_ptr<char[]> larger(new char[capacity]);
    if (m_end > m_begin) std::memcpy(larger.get(), m_buffer.get() + m_begin, m_end - m_begin);
    m_end -= m_begin;
    m_begin = 0;
    m_buffer = std::move(larger);
    m_capacity = capacity;
}

void BlockLineReader::Read() {
    const std::size_t wanted = m_capacity - 1 - m_end;
    const std::size_t got =
        m_file != nullptr ? std::fread(m_buffer.get() + m_end, 1, wanted, m_file) : 0;
    m_end += got;
    if (got < wanted) m_eof = true;  // the end of the file, or a read error
}

char* BlockLineReader::Next() {
    for (;;) {
        char* start = m_buffer.get() + m_begin;
        const std::size_t unread = m_end - m_begin;
        if (auto* lf = static_cast<char*>(std::memchr(start, '\n', unread))) {
            *lf = '\0';
            if (static_cast<std::size_t>(lf - start) > LineReader::kMaxLine) {
                start[LineReader::kMaxLine] = '\0';
            }
            m_begin = static_cast<std::size_t>(lf + 1 - m_buffer.get());
            return start;
        }
        if (m_eof) {
            if (unread == 0) return nullptr;
            start[std::min(unread, LineReader::kMaxLine)] = '\0';  // the last line, without LF
            m_begin = m_end;
            return start;
        }
        if (unread >= LineReader::kMaxLine) return SkipRestOfLongLine();
        Compact();
        if (m_end + 1 + kBlock / 4 > m_capacity) {
            Grow(std::min(2 * m_capacity, LineReader::kMaxLine + kBlock + 2));
        }
        Read();
    }
}

// The unread bytes are the first kMaxLine characters (or more) of a line whose LF has not been
// read yet: keeps those characters as the line and reads on to the LF, dropping the rest.
char* BlockLineReader::SkipRestOfLongLine() {
    Compact();
    if (m_capacity < LineReader::kMaxLine + kBlock + 2) Grow(LineReader::kMaxLine + kBlock + 2);
    char* line = m_buffer.get();
    line[LineReader::kMaxLine] = '\0';
    m_end = LineReader::kMaxLine + 1;  // the scratch area for what follows starts here
    while (!m_eof) {
        const std::size_t from = m_end;
        Read();
        if (auto* lf = static_cast<char*>(std::memchr(line + from, '\n', m_end - from))) {
            m_begin = static_cast<std::size_t>(lf + 1 - line);
            return line;
        }
        m_end = from;  // still within the long line: dropped
    }
    m_begin = m_end;
    return line;
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
