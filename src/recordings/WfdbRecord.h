// WFDB records beyond what TOLVLoadECGdat reads: storage formats 8, 16, 61, 80, 160, 212, 310
// and 311, signals spread over several signal files (each file its own frame of interleaved
// signals and its own format), byte offsets, and multi-segment records (gaps of "~" segments
// play as 0 mV). The signal files are found by the header's file names, beside the header.
// Pure readers (no session, no API lock), so that tools and fuzz targets can reuse them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Storage formats this reader decodes.
bool WfdbFormatSupported(int format);

// Decodes `count` consecutive samples of a sample stream in `format` from bytes[0..size);
// samples beyond the bytes are not produced. Format 8 is a difference stream: `initial` gives
// the starting value of each of the `signals` interleaved signals. Returns the samples decoded.
std::size_t DecodeWfdbStream(int format, const unsigned char* bytes, std::size_t size, int signals,
                             const std::vector<int>& initial, std::size_t count,
                             std::vector<int>& out);

// The result of reading one signal of a record.
struct WFDB_SIGNAL {
    std::vector<double> values;  // physical units, taken as mV
    double rate = 0.0;           // samples per second, as the header gives it
};

// Reads signal `channel` of the record whose header is at `headerPath`. 0 or the loader's
// error code: -1 header, -2 signal file or format, -3 channel, -4 no sample. Throws
// std::bad_alloc when memory runs out.
int ReadWfdbRecordSignal(const std::string& headerPath, int channel, WFDB_SIGNAL& out);
