// WFDB records beyond what TOLVLoadECGdat reads: storage formats 8, 16, 61, 80, 160, 212, 310
// and 311, signals spread over several signal files (each file its own frame of interleaved
// signals and its own format), several samples of a signal per frame, skew, byte offsets, and
// multi-segment records (gaps of "~" segments play as 0 mV). The signal files are found by the
// header's file names, beside the header. Pure readers (no session, no API lock), so that tools and
// fuzz targets can reuse them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Storage formats this reader decodes.
bool WfdbFormatSupported(int format);

// Decodes `count` consecutive samples of a sample stream in `format` from bytes[0..size);
// samples beyond the bytes are not produced. The stream is made of frames of `signals`
// interleaved signals, signal s holding perFrame[s] consecutive samples of each frame (1 where
// perFrame does not say). Format 8 is a difference stream: `initial` gives the starting value of
// each signal, every sample adding to its signal's level. Returns the samples decoded.
std::size_t DecodeWfdbStream(int format, const unsigned char* bytes, std::size_t size, int signals,
                             const std::vector<int>& initial, std::size_t count,
                             std::vector<int>& out, const std::vector<int>& perFrame = {});

// The result of reading one signal of a record.
struct WFDB_SIGNAL {
    std::vector<double> values;  // physical units, taken as mV
    double rate = 0.0;           // the signal's samples per second: frame rate x samples per frame
};

// Reads signal `channel` of the record whose header is at `headerPath`. 0 or the loader's
// error code: -1 header, -2 signal file or format, -3 channel, -4 no sample. Throws
// std::bad_alloc when memory runs out.
int ReadWfdbRecordSignal(const std::string& headerPath, int channel, WFDB_SIGNAL& out);
