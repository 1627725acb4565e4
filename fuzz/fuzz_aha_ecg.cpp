// AHA binary recordings (LoadECGAHA with a ".ecg" path), channel from the input.
#include "FuzzSupport.h"
#include "tolvan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    LoadECGAHA(WriteFuzzFile(".ecg", data + 1, size - 1).c_str(), data[0] % 3);
    return 0;
}
