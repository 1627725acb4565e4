// Small file helpers shared by the recording readers: an owning FILE handle that opens only
// regular files (a FIFO or a device node would block or never end), and a line reader that
// reads lines of any length with a bounded memory use. No session or API dependencies.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr) std::fclose(f);
    }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens the regular file at the UTF-8 path for binary reading; null when the path is empty,
// names no regular file or cannot be opened. *size receives the file size when not null.
FileHandle OpenRegularFileForReading(const char* path, long long* size = nullptr);

// Reads lines ending at LF (a CR before the LF is kept, as a plain character) from a file.
// A line longer than kMaxLine characters is cut to kMaxLine; the rest of it is skipped.
class LineReader {
  public:
    static constexpr std::size_t kMaxLine = 1 << 20;

    explicit LineReader(std::FILE* file) : m_file(file) {}
    // The next line without its LF; false at the end of the file (or on a read error) when no
    // character was read.
    bool Next(std::string& line);

  private:
    std::FILE* m_file = nullptr;
};

// Positions the file at a byte offset from its start (64-bit offsets on every platform).
bool SeekFile(std::FILE* file, long long offset);

// Removes trailing CR and LF characters.
void TrimLineEnd(std::string& line);
