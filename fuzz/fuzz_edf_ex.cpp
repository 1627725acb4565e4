// EDF files through TOLVLoadECGedfEx: the first byte picks the channel and the flags (resample,
// gaps, free text), the rest is the file.
#include "FuzzSupport.h"
#include "tolvan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int channel = static_cast<int>(data[0] & 0x03) - 1;
    const int flags = (data[0] >> 2) & (TOLV_EDF_RESAMPLE | TOLV_EDF_GAPS | TOLV_EDF_FREE_TEXT);
    const std::string path = WriteFuzzFile(".edf", data + 1, size - 1);
    TOLVLoadECGedfEx(path.c_str(), channel, flags);
    return 0;
}
