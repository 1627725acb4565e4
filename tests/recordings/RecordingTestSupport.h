// Helpers of the recording tests: a scratch directory per test and file writers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "recordings/Recording.h"
#include "vdev/TempDir.h"

namespace rectest {

// The scratch directory of a test, with a file writer.
class ScratchDir : public vdev::TempDir {
  public:
    // Writes bytes to a file of this directory and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string path = Join(name);
        if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return path;
    }
    std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) const {
        return Write(name, std::string(bytes.begin(), bytes.end()));
    }
};

inline std::string ReadAll(const std::string& path) {
    std::string out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

// A recognisable recording to tell "kept" from "replaced".
inline void InstallMarker(int count = 3, double rate = 777.0) {
    InstallEcgSamples(std::vector<double>(static_cast<std::size_t>(count), 1.25), rate);
}

inline bool MarkerStillLoaded(int count = 3, double rate = 777.0) {
    EcgRecordingPtr r = CurrentEcgRecording();
    return r->Count() == count && r->SampleRate() == rate && r->MillivoltsAt(0) == 1.25;
}

// Samples of the current recording.
inline std::vector<double> CurrentSamples() {
    EcgRecordingPtr r = CurrentEcgRecording();
    return std::vector<double>(r->Data(), r->Data() + r->Count());
}

}  // namespace rectest
