// WFDB records through TOLVLoadECGWfdbRecord: the input holds the header text, a NUL byte, then
// the signal file; every "@" of the header names that signal file. The first byte picks the
// channel and the resample flag; the signal bytes also go through every stream decoder.
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "recordings/WfdbRecord.h"
#include "tolvan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int channel = static_cast<int>(data[0] % 5) - 1;
    const int flags = (data[0] & 0x80) != 0 ? TOLV_WFDB_RESAMPLE : 0;
    ++data, --size;
    const void* nul = std::memchr(data, 0, size);
    const std::size_t headerSize =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data) : size;
    const std::size_t rest = headerSize < size ? size - headerSize - 1 : 0;
    const std::string dat = WriteFuzzFile(".dat", data + size - rest, rest);
    const std::string name = dat.substr(dat.find_last_of('/') + 1);
    std::string header(reinterpret_cast<const char*>(data), headerSize);
    for (std::size_t at; (at = header.find('@')) != std::string::npos;) header.replace(at, 1, name);
    const std::string hea =
        WriteFuzzFile(".hea", reinterpret_cast<const std::uint8_t*>(header.data()), header.size());
    TOLVLoadECGWfdbRecord(hea.c_str(), channel, flags);
    std::vector<int> out;
    for (int format : {8, 16, 61, 80, 160, 212, 310, 311})
        DecodeWfdbStream(format, data + size - rest, rest, 1 + channel % 3 + 1, {1, -1, 0}, 4096,
                         out);
    return 0;
}
