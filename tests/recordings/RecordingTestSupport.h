// Helpers of the recording tests: a scratch directory per test and file writers.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "recordings/Recording.h"

namespace rectest {

// A fresh directory under /tmp, removed with its files at the end of the test.
class ScratchDir {
  public:
    ScratchDir() {
        char pattern[] = "/tmp/tolvan-rec-XXXXXX";
        const char* made = mkdtemp(pattern);
        m_path = made != nullptr ? made : "/tmp";
    }
    ~ScratchDir() {
        for (const std::string& f : m_files) std::remove(f.c_str());
        rmdir(m_path.c_str());
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Writes bytes to a file of this directory and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = m_path + "/" + name;
        if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        m_files.push_back(path);
        return path;
    }
    std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) {
        return Write(name, std::string(bytes.begin(), bytes.end()));
    }
    // A path in this directory that the test will create itself (removed at the end).
    std::string Path(const std::string& name) {
        m_files.push_back(m_path + "/" + name);
        return m_files.back();
    }

  private:
    std::string m_path;
    std::vector<std::string> m_files;
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
