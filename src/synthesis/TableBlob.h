// Layout of the blob of constant tables that the data generator writes and the library embeds.
//
//   offset 0   "TOLVTAB1" (8 bytes)
//          8   uint32 0x01020304, written in the byte order of the generator's machine
//         12   uint32 number of entries
//         16   entries of 32 bytes: name (16 bytes, NUL-padded), uint32 byte offset of the
//              samples from the blob start (a multiple of 16), uint32 sample count, uint32 rate
//              in Hz, uint32 0
//   then the samples of each entry: int32 microvolts.
//
// Every field is in the generator's byte order; a reader on a machine of the other order sees
// the marker reversed and treats the blob as empty. Header-only, shared by the generator and
// the library.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tableblob {

constexpr char kMagic[8] = {'T', 'O', 'L', 'V', 'T', 'A', 'B', '1'};
constexpr std::uint32_t kOrderMark = 0x01020304u;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kEntrySize = 32;
constexpr std::size_t kNameSize = 16;
constexpr std::size_t kAlignment = 16;

struct Entry {
    std::string name;
    const std::int32_t* samples = nullptr;
    std::uint32_t count = 0;
    std::uint32_t rate = 0;
};

inline std::uint32_t ReadU32(const unsigned char* p) {
    std::uint32_t v = 0;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void AppendU32(std::vector<unsigned char>& out, std::uint32_t v) {
    unsigned char b[4];
    std::memcpy(b, &v, sizeof v);
    out.insert(out.end(), b, b + 4);
}

// The blob of the given tables (name, samples, rate).
struct Source {
    std::string name;
    const std::vector<std::int32_t>* samples = nullptr;
    std::uint32_t rate = 0;
};

inline std::vector<unsigned char> Write(const std::vector<Source>& sources) {
    std::vector<unsigned char> out(kMagic, kMagic + sizeof kMagic);
    AppendU32(out, kOrderMark);
    AppendU32(out, static_cast<std::uint32_t>(sources.size()));
    std::size_t offset = kHeaderSize + kEntrySize * sources.size();
    std::vector<std::size_t> offsets;
    for (const Source& s : sources) {
        offset = (offset + kAlignment - 1) / kAlignment * kAlignment;
        offsets.push_back(offset);
        offset += s.samples->size() * sizeof(std::int32_t);
    }
    for (std::size_t i = 0; i < sources.size(); ++i) {
        char name[kNameSize] = {};
        std::strncpy(name, sources[i].name.c_str(), kNameSize - 1);
        out.insert(out.end(), name, name + kNameSize);
        AppendU32(out, static_cast<std::uint32_t>(offsets[i]));
        AppendU32(out, static_cast<std::uint32_t>(sources[i].samples->size()));
        AppendU32(out, sources[i].rate);
        AppendU32(out, 0);
    }
    for (std::size_t i = 0; i < sources.size(); ++i) {
        out.resize(offsets[i], 0);
        const std::vector<std::int32_t>& v = *sources[i].samples;
        const std::size_t bytes = v.size() * sizeof(std::int32_t);
        out.resize(offsets[i] + bytes);
        if (bytes > 0) std::memcpy(out.data() + offsets[i], v.data(), bytes);
    }
    return out;
}

// The entries of a blob at `data` (size bytes), which must be 4-byte aligned. Entries that do
// not lie wholly inside the blob are dropped; a blob with a wrong magic or byte order gives
// none.
inline std::vector<Entry> Read(const unsigned char* data, std::size_t size) {
    std::vector<Entry> entries;
    if (data == nullptr || size < kHeaderSize) return entries;
    if (std::memcmp(data, kMagic, sizeof kMagic) != 0) return entries;
    if (ReadU32(data + 8) != kOrderMark) return entries;
    const std::uint32_t count = ReadU32(data + 12);
    if (count > (size - kHeaderSize) / kEntrySize) return entries;
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* e = data + kHeaderSize + kEntrySize * i;
        Entry entry;
        std::size_t length = 0;
        while (length < kNameSize && e[length] != 0) ++length;
        entry.name.assign(reinterpret_cast<const char*>(e), length);
        const std::uint32_t offset = ReadU32(e + 16);
        entry.count = ReadU32(e + 20);
        entry.rate = ReadU32(e + 24);
        if (offset % sizeof(std::int32_t) != 0 || offset > size ||
            entry.count > (size - offset) / sizeof(std::int32_t)) {
            continue;
        }
        entry.samples = reinterpret_cast<const std::int32_t*>(data + offset);
        entries.push_back(entry);
    }
    return entries;
}

}  // namespace tableblob
