// Column text recordings: TOLVLoadECGtxt with a channel from the input, and CheckECGTxtChannel.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "tolvan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    int channel = static_cast<int>(data[0] % 8) - 1;
    std::string path = WriteFuzzFile(".txt", data + 1, size - 1);
    TOLVLoadECGtxt(path.c_str(), channel);
    int count = CheckECGTxtChannel(path.c_str(), nullptr);
    if (count > 0 && count <= 4096) {
        std::vector<char*> names(static_cast<std::size_t>(count), nullptr);
        CheckECGTxtChannel(path.c_str(), names.data());
        for (char* n : names) delete[] n;
    }
    return 0;
}
