// Big-endian binary recordings (LoadECGBin).
#include "FuzzSupport.h"
#include "tolvan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    LoadECGBin(WriteFuzzFile(".bin", data, size).c_str());
    return 0;
}
