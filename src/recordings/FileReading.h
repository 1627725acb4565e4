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
    // character was read. The line's text ends at its first NUL byte, if any (the rest of the
    // line, up to its LF, is skipped), as with BlockLineReader.
    bool Next(std::string& line);

  private:
    std::FILE* m_file = nullptr;
};

// Reads the lines of a file from its current position in large blocks and hands each out in
// place: no copy and no allocation per line, one read per block. Lines end at LF (a CR before
// the LF is kept, as a plain character) and are cut to LineReader::kMaxLine characters, as with
// LineReader; the text of a line also ends at its first NUL byte, if any (the rest of the line,
// up to its LF, is ignored).
class BlockLineReader {
  public:
    // `sizeHint` (the file's size, or less) sizes the first block; the buffer grows as lines
    // need it, up to one line of kMaxLine characters and a block. Throws std::bad_alloc.
    BlockLineReader(std::FILE* file, long long sizeHint);
    BlockLineReader(const BlockLineReader&) = delete;
    BlockLineReader& operator=(const BlockLineReader&) = delete;

    // The next line without its LF, NUL-terminated, in the reader's buffer: valid, and free to
    // change, until the next call. nullptr at the end of the file (or on a read error) when no
    // character was read.
    char* Next();

  private:
    static constexpr std::size_t kBlock = std::size_t{1} << 18;

    void Compact();
    void Grow(std::size_t capacity);
    void Read();
    char* SkipRestOfLongLine();

    std::FILE* m_file = nullptr;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_capacity = 0;  // one byte more than the most it holds: room for a NUL
    std::size_t m_begin = 0;     // first byte not yet handed out
    std::size_t m_end = 0;       // end of the bytes read
    bool m_eof = false;
};

// Positions the file at a byte offset from its start (64-bit offsets on every platform).
bool SeekFile(std::FILE* file, long long offset);

// Removes trailing CR and LF characters.
void TrimLineEnd(std::string& line);
