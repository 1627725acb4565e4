// WFDB records through TOLVLoadECGWfdbRecord: the input holds the header text, a NUL byte, then
// the signal file; every "@" of the header names that signal file. A byte 0x01 in the header
// text starts a second header, written as a segment header that "$" names (in both), so that
// multi-segment records reach real segments. The first byte picks the channel and the resample
// flag; the signal bytes also go through every stream decoder.
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "recordings/WfdbRecord.h"
#include "tolvan.h"

namespace {

void ReplaceAll(std::string& text, char mark, const std::string& by) {
    for (std::size_t at = 0; (at = text.find(mark, at)) != std::string::npos; at += by.size())
        text.replace(at, 1, by);
}

std::string WriteText(const char* ending, const std::string& text) {
    return WriteFuzzFile(ending, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int channel = static_cast<int>(data[0] % 5) - 1;
    const int flags = (data[0] & 0x80) != 0 ? TOLV_WFDB_RESAMPLE : 0;
    const std::vector<int> perFrame = {1 + (data[0] >> 5 & 3), 1, 2};
    ++data, --size;
    const void* nul = std::memchr(data, 0, size);
    const std::size_t headerSize =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data) : size;
    const std::size_t rest = headerSize < size ? size - headerSize - 1 : 0;
    const std::string dat = WriteFuzzFile(".dat", data + size - rest, rest);
    const std::string name = dat.substr(dat.find_last_of('/') + 1);
    const std::string segmentName = name.substr(0, name.size() - 4) + "s";
    std::string header(reinterpret_cast<const char*>(data), headerSize), segment;
    const std::size_t split = header.find('\x01');
    if (split != std::string::npos) {
        segment = header.substr(split + 1);
        header.erase(split);
    }
    for (std::string* text : {&header, &segment}) {
        ReplaceAll(*text, '@', name);
        ReplaceAll(*text, '$', segmentName);
    }
    WriteText("s.hea", segment);  // always written: no segment of an earlier input stays
    const std::string hea = WriteText(".hea", header);
    TOLVLoadECGWfdbRecord(hea.c_str(), channel, flags);
    std::vector<int> out;
    for (int format : {8, 16, 61, 80, 160, 212, 310, 311})
        DecodeWfdbStream(format, data + size - rest, rest, 1 + channel % 3 + 1, {1, -1, 0}, 4096,
                         out, perFrame);
    return 0;
}
