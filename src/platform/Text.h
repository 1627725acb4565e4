// Text and file utilities: trimming, splitting on white space, UTF-8 paths, whole-file reads.
// White space is space, tab, carriage return and line feed. Nothing here keeps state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

inline bool IsTextSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Cuts the string at the first character of its trailing run of white space.
void StringTrimRight(char* s);
// Moves the string left over its leading white space.
void StringTrimLeft(char* s);
// Right trim, then left trim.
void StringTrim(char* s);

// Splits s in place at runs of white space and stores at most max field pointers.
// Returns the number of fields stored (never more than max); nullptr gives 0.
int ParseBySpace(char* s, char** fields, int max);

// Opens a file named by a UTF-8 path (converted to UTF-16 on Windows). An empty or null path
// fails (nullptr).
std::FILE* OpenFileUtf8(const char* path, const char* mode);
// File size in bytes; -1 for an empty path or a file that cannot be examined.
long long GetFileSizeUtf8(const char* path);
// Reads the whole file into a new array that the caller releases with delete[]. False when the
// file cannot be opened or read, or is larger than 4 GiB - 1; *data is then nullptr.
bool ReadFileBinaryData(const char* path, unsigned char** data, unsigned int* size);
// Writes the bytes to a new file ("wb"); false when it cannot be opened or written.
bool WriteFileBinaryData(const char* path, const unsigned char* data, unsigned int size);

// From a text held in memory, returns the next line that holds a character other than white
// space, truncated to size - 1 characters and right-trimmed. Lines end at CR or LF.
// False at the end of the text (or when size is 0).
bool ReadTextLine(const unsigned char*& cursor, const unsigned char* end, char* line,
                  std::size_t size);

// Decodes one UTF-8 sequence of one, two or three bytes at s into *unit. Returns the number of
// bytes consumed, or 0 at the end of the string or at an invalid, overlong, surrogate or
// four-byte sequence.
int UTF8ToUnicodeChar(const char* s, std::uint16_t* unit);
// Decodes a NUL-terminated UTF-8 string into at most count - 1 code units plus a terminating
// 0; decoding stops at the first invalid sequence. Returns the number of units written
// (without the terminator); 0 when out is nullptr or count is 0.
int UTF8ToUnicodeBuf(const char* s, std::uint16_t* out, int count);
