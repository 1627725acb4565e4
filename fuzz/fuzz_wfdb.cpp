// WFDB records: the input holds the header text, a NUL byte, then the signal file; the first
// byte picks the channel.
#include <cstring>

#include "FuzzSupport.h"
#include "tolvan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    int channel = static_cast<int>(data[0] % 5) - 1;
    ++data, --size;
    const void* nul = std::memchr(data, 0, size);
    std::size_t headerSize =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data) : size;
    std::string hea = WriteFuzzFile(".hea", data, headerSize);
    std::size_t rest = headerSize < size ? size - headerSize - 1 : 0;
    std::string dat = WriteFuzzFile(".dat", data + size - rest, rest);
    TOLVLoadECGdat(hea.c_str(), dat.c_str(), channel);
    return 0;
}
