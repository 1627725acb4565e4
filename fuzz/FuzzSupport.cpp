#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>

#include "session/Session.h"
#include "synthesis/WaveformState.h"

// The API lock that the exported loaders take, and the loop switch of the recording (kept with
// the waveform state); the session and synthesis modules are not part of these builds.
CSimpleCriticalSection g_APICriticalSection;
CRelaxed<bool> s_loopFile{true};

std::string WriteFuzzFile(const char* ending, const std::uint8_t* data, std::size_t size) {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string path = std::string(dir) + "/tolvan-fuzz-" + std::to_string(getpid()) + ending;
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}
