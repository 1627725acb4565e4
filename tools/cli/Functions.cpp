// FUNCTION of play and render: names of the output functions and of the standard waveforms.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Cli.h"
#include "tolvan.h"

namespace cli {
namespace {

struct Named {
    const char* name;
    int function;
    int wave;
};

// Output functions by name, then the standard waveforms by the name printed on their standard.
const Named kNames[] = {
    {"off", OUTPUT_OFF, -1},
    {"sine", OUTPUT_SINE, -1},
    {"triangle", OUTPUT_TRIANGLE, -1},
    {"square", OUTPUT_SQUARE, -1},
    {"pulse", OUTPUT_PULSE, -1},
    {"triangle-pulse", OUTPUT_TRIANGLE_PULSE, -1},
    {"exp-decay", OUTPUT_EXP_DECAY, -1},
    {"ecg", OUTPUT_ECG, -1},
    {"iec227", OUTPUT_IEC227, -1},
    {"iec251", OUTPUT_IEC251, -1},
    {"jjg1041-double-r", OUTPUT_JJG1041_DOUBLE_R, -1},
    {"jjg1041-single-r", OUTPUT_JJG1041_SINGLE_R, -1},
    {"exp-alternating", OUTPUT_EXP_ALTERNATING, -1},
    {"custom-ecg", OUTPUT_CUSTOM_ECG, -1},
    {"dynamic-range", OUTPUT_INPUT_DYNAMIC_RANGE, -1},
    {"iec247", OUTPUT_IEC247, -1},
    {"ane20000", OUTPUT_ANE20000, -1},
    {"yy1079", OUTPUT_YY1079_DYNAMIC_RANGE, -1},
    // IEC 60601-2-27 / AAMI EC13 (output 8), in index order.
    {"aami3a", OUTPUT_IEC227, 0},
    {"aami3b", OUTPUT_IEC227, 1},
    {"aami3c", OUTPUT_IEC227, 2},
    {"aami3d", OUTPUT_IEC227, 3},
    {"aami4a", OUTPUT_IEC227, 4},
    {"aami4a-x2", OUTPUT_IEC227, 5},
    {"aami4a-half", OUTPUT_IEC227, 6},
    {"aami4b", OUTPUT_IEC227, 7},
    {"aami4b-x2", OUTPUT_IEC227, 8},
    {"aami4b-half", OUTPUT_IEC227, 9},
    // CTS CAL waveforms of IEC 60601-2-51 (output 9), in index order.
    {"cal05000", OUTPUT_IEC251, 0},
    {"cal10000", OUTPUT_IEC251, 1},
    {"cal15000", OUTPUT_IEC251, 2},
    {"cal20000", OUTPUT_IEC251, 3},
    {"cal30000", OUTPUT_IEC251, 4},
    {"cal50000", OUTPUT_IEC251, 5},
    {"cal20002", OUTPUT_IEC251, 6},
    {"cal20100", OUTPUT_IEC251, 7},
    {"cal20110", OUTPUT_IEC251, 8},
    {"cal20160", OUTPUT_IEC251, 9},
    {"cal20200", OUTPUT_IEC251, 10},
    {"cal20210", OUTPUT_IEC251, 11},
    {"cal20260", OUTPUT_IEC251, 12},
    {"cal20500", OUTPUT_IEC251, 13},
    {"cal20502", OUTPUT_IEC251, 14},
    {"cal40000", OUTPUT_IEC251, 15},
    // IEC 60601-2-47 test patterns (output 16).
    {"pattern1", OUTPUT_IEC247, 0},
    {"pattern2", OUTPUT_IEC247, 1},
    {"pattern3", OUTPUT_IEC247, 2},
    {"pattern4", OUTPUT_IEC247, 3},
    {"pattern5", OUTPUT_IEC247, 4},
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool IsFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           Lower(text.substr(text.size() - suffix.size())) == Lower(suffix);
}

bool ParseFunction(const std::string& text, Selection* selection, std::string* error) {
    const std::string key = Lower(text);
    for (const Named& named : kNames) {
        if (key == named.name) {
            selection->function = named.function;
            selection->wave = named.wave;
            selection->label = named.name;
            return true;
        }
    }
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (!text.empty() && *end == '\0') {
        if (number < 0 || number > OUTPUT_YY1079_DYNAMIC_RANGE) {
            *error = "output function " + text + " out of range";
            return false;
        }
        selection->function = static_cast<int>(number);
        selection->label = "output function " + text;
        return true;
    }
    if (IsFile(text)) {
        selection->function = OUTPUT_ECG_FILE;
        selection->file = text;
        selection->label = text;
        return true;
    }
    *error = "unknown function or no such file: " + text + " (see tolvan play --help)";
    return false;
}

std::string FunctionNamesHelp() {
    std::string text = "  ";
    std::size_t column = 2;
    for (const Named& named : kNames) {
        const std::size_t length = std::string(named.name).size() + 1;
        if (column + length > 92) {
            text += "\n  ";
            column = 2;
        }
        text += named.name;
        text += ' ';
        column += length;
    }
    return text + "\n";
}

namespace {

// A .edf or .hea/.dat recording: the loader the format names first; a file it refuses is loaded
// again by the extension loader, which reads further variants of the format (a multi-segment
// record, for one, is refused as a header that does not parse: -1). --resample, --gaps or
// --free-text ask for the extension loader's reading, so with any of them it loads the file
// directly (the first loader would play an EDF+D file's records back to back, for one).
int LoadRecord(const Selection& selection, bool edf, int channel, std::string* what) {
    const std::string& path = selection.file;
    const std::string base = edf ? path : path.substr(0, path.size() - 4);
    const std::string header = base + ".hea";
    const int flags = edf ? selection.edfFlags : selection.wfdbFlags;
    int rc = -1;
    if (flags == 0) {
        if (edf) {
            *what = "TOLVLoadECGedf";
            rc = TOLVLoadECGedf(path.c_str(), channel);
        } else {
            *what = "TOLVLoadECGdat";
            rc = TOLVLoadECGdat(header.c_str(), (base + ".dat").c_str(), channel);
        }
        if (rc >= 0) return rc;
        std::printf("%s refused %s (%d): trying %s\n", what->c_str(), path.c_str(), rc,
                    edf ? "TOLVLoadECGedfEx" : "TOLVLoadECGWfdbRecord");
    }
    *what = edf ? "TOLVLoadECGedfEx" : "TOLVLoadECGWfdbRecord";
    if (flags != 0) std::printf("%s %s (flags %d)\n", what->c_str(), path.c_str(), flags);
    return edf ? TOLVLoadECGedfEx(path.c_str(), channel, flags)
               : TOLVLoadECGWfdbRecord(header.c_str(), channel, flags);
}

}  // namespace

int ApplySelection(const Selection& selection, int channel, std::string* what) {
    if (!selection.file.empty()) {
        const std::string& path = selection.file;
        int rc;
        if (EndsWith(path, ".edf")) {
            rc = LoadRecord(selection, true, channel, what);
        } else if (EndsWith(path, ".hea") || EndsWith(path, ".dat")) {
            rc = LoadRecord(selection, false, channel, what);
        } else if (EndsWith(path, ".bin")) {
            *what = "LoadECGBin";
            rc = LoadECGBin(path.c_str());
        } else if (EndsWith(path, ".ecg")) {
            *what = "LoadECGAHA";
            rc = LoadECGAHA(path.c_str(), channel);
        } else {
            *what = "TOLVLoadECGtxt";
            rc = TOLVLoadECGtxt(path.c_str(), channel);
        }
        return rc < 0 ? rc : 0;  // loaders return the sample count
    }
    switch (selection.function) {
        case OUTPUT_IEC227:
            *what = "TOLVSetSpecialWave227";
            return TOLVSetSpecialWave227(selection.wave < 0 ? 0 : selection.wave);
        case OUTPUT_IEC251:
            *what = "TOLVSetSpecialWave251";
            return TOLVSetSpecialWave251(selection.wave < 0 ? 0 : selection.wave);
        case OUTPUT_IEC247:
            *what = "TOLVSetSpecialWave247";
            return TOLVSetSpecialWave247(selection.wave < 0 ? 0 : selection.wave);
        case OUTPUT_ANE20000:
            *what = "TOLVSetANE20000Lead";
            return TOLVSetANE20000Lead(channel);
        default:
            return 0;
    }
}

}  // namespace cli
