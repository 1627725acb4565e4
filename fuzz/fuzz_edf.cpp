// EDF / EDF+ files: TOLVLoadECGedf with a channel from the input, and the reader's own API on
// every signal.
#include <vector>

#include "FuzzSupport.h"
#include "recordings/EdfFile.h"
#include "tolvan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::string path = WriteFuzzFile(".edf", data + 1, size - 1);
    TOLVLoadECGedf(path.c_str(), static_cast<int>(data[0] % 6) - 1);
    EdfFile edf;
    if (edf.readFile(path.c_str()) == 0) {
        std::vector<float> values;
        for (int s = 0; s < edf.Header().numberOfSignals && s < 8; ++s) {
            edf.retrieveSignalSampleValues(s, values);
        }
    }
    return 0;
}
