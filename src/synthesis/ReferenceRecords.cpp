#include "synthesis/ReferenceRecords.h"

#include <algorithm>
#include <cmath>

#include "recordings/Wfdb.h"

namespace {

constexpr ReferencePiece kIEC227Pieces[] = {
    {"aami3a", 0, 43081},   {"aami3b", 0, 43142},   {"aami3c", 0, 43144},   {"aami3d", 0, 34511},
    {"aami4a", 0, 65211},   {"aami4a_d", 0, 65214}, {"aami4a_h", 0, 65207}, {"aami4b", 0, 65238},
    {"aami4b_d", 0, 65239}, {"aami4b_h", 0, 65237},
};

constexpr ReferencePiece kIEC251Pieces[] = {
    {"CAL05000", 0, 0}, {"CAL10000", 0, 0}, {"CAL15000", 0, 0}, {"CAL20000", 0, 0},
    {"CAL30000", 0, 0}, {"CAL50000", 0, 0}, {"CAL20002", 0, 0}, {"CAL20100", 0, 0},
    {"CAL20110", 0, 0}, {"CAL20160", 0, 0}, {"CAL20200", 0, 0}, {"CAL20210", 0, 0},
    {"CAL20260", 0, 0}, {"CAL20500", 0, 0}, {"CAL20502", 0, 0}, {"CAL40000", 0, 0},
};

// Channel c of the ANE20000 table is signal c of the record, in the record's own lead order.
constexpr ReferencePiece kANE20000Pieces[] = {
    {"ANE20000", 0, 0}, {"ANE20000", 1, 0}, {"ANE20000", 2, 0},
    {"ANE20000", 3, 0}, {"ANE20000", 4, 0}, {"ANE20000", 5, 0},
    {"ANE20000", 6, 0}, {"ANE20000", 7, 0}, {"ANE20000", 8, 0},
};

constexpr int kNoiseLength = 650000;
constexpr ReferencePiece kMAPieces[] = {{"ma", 0, kNoiseLength}};
constexpr ReferencePiece kEMPieces[] = {{"em", 0, kNoiseLength}};
constexpr ReferencePiece kBWPieces[] = {{"bw", 0, kNoiseLength}};

template <int N>
constexpr int CountOf(const ReferencePiece (&)[N]) {
    return N;
}

const ReferenceTableLayout kLayouts[kReferenceTableCount] = {
    {ReferenceTable::IEC227, "IEC227W", "aami-ec13", 720, 66000, CountOf(kIEC227Pieces),
     kIEC227Pieces},
    {ReferenceTable::IEC251, "IEC251W", "cts", 1000, 1000, CountOf(kIEC251Pieces), kIEC251Pieces},
    {ReferenceTable::ANE20000, "ANE20000", "cts", 1000, 1000, CountOf(kANE20000Pieces),
     kANE20000Pieces},
    {ReferenceTable::MA, "MA", "nstdb", 360, kNoiseLength, 1, kMAPieces},
    {ReferenceTable::EM, "EM", "nstdb", 360, kNoiseLength, 1, kEMPieces},
    {ReferenceTable::BW, "BW", "nstdb", 360, kNoiseLength, 1, kBWPieces},
};

void SetWhy(std::string* why, const std::string& text) {
    if (why != nullptr) *why = text;
}

// Directory part of a path, with its trailing separator ("" when there is none).
std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

const ReferenceTableLayout& ReferenceTableLayoutOf(ReferenceTable id) {
    return kLayouts[static_cast<int>(id)];
}

std::int32_t MicrovoltsFromAdu(long long aduMinusBaseline, double gain) {
    // 1000 * d is exact in a double; one correctly rounded division then decides the halves.
    return static_cast<std::int32_t>(
        std::llround(1000.0 * static_cast<double>(aduMinusBaseline) / gain));
}

bool ConvertWfdbSignal(const std::string& headerPath, int signal, std::vector<std::int32_t>& uv,
                       int& rate, std::string* why) {
    uv.clear();
    rate = 0;
    HeaFile header;
    if (!header.OpenFile(headerPath.c_str())) {
        SetWhy(why, headerPath + ": no readable WFDB header");
        return false;
    }
    std::string datName = header.Cell(1, 0);
    if (datName.empty()) {
        SetWhy(why, headerPath + ": no signal file named");
        return false;
    }
    const std::string datPath = DirectoryOf(headerPath) + datName;
    DatFile dat;
    if (!dat.OpenFile(datPath.c_str(), header)) {
        SetWhy(why, datPath + ": signal file missing or of an unsupported format");
        return false;
    }
    if (signal < 0 || signal >= dat.SignalCount()) {
        SetWhy(why, headerPath + ": no signal " + std::to_string(signal));
        return false;
    }
    double maximum = 0.0;
    double minimum = 0.0;
    SampleVector values;
    const int frames = dat.ReadChannel(signal, maximum, minimum, values);
    if (frames != dat.SampleCount() || frames < 1) {
        SetWhy(why, datPath + ": holds " + std::to_string(frames) + " of " +
                        std::to_string(dat.SampleCount()) + " samples");
        return false;
    }
    // The reader gives (adu - baseline) / gain; the integer difference comes back exactly, and
    // the microvolts are rounded once from it.
    const double gain = dat.Gain(signal);
    uv.resize(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        uv[i] = MicrovoltsFromAdu(std::llround(values[i] * gain), gain);
    }
    rate = dat.SampleRate();
    return true;
}

bool BuildReferenceTable(const std::string& dataDir, const ReferenceTableLayout& layout,
                         std::vector<std::int32_t>& out, std::string* why) {
    out.clear();
    std::vector<std::int32_t> table(
        static_cast<std::size_t>(layout.slotLength) * static_cast<std::size_t>(layout.pieceCount),
        0);
    std::string folder = dataDir;
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
    folder += layout.folder;
    folder += '/';
    std::vector<std::int32_t> uv;
    for (int n = 0; n < layout.pieceCount; ++n) {
        const ReferencePiece& piece = layout.pieces[n];
        const std::string header = folder + piece.record + ".hea";
        int rate = 0;
        if (!ConvertWfdbSignal(header, piece.signal, uv, rate, why)) return false;
        if (rate != layout.rate) {
            SetWhy(why, header + ": rate " + std::to_string(rate) + " Hz, expected " +
                            std::to_string(layout.rate));
            return false;
        }
        const std::size_t count = uv.size();
        const bool exactOk =
            piece.exactCount > 0 && count == static_cast<std::size_t>(piece.exactCount);
        const bool slotOk =
            piece.exactCount == 0 && count >= static_cast<std::size_t>(layout.slotLength);
        if (!exactOk && !slotOk) {
            SetWhy(why,
                   header + ": " + std::to_string(count) + " samples, expected " +
                       std::to_string(piece.exactCount > 0 ? piece.exactCount : layout.slotLength));
            return false;
        }
        const std::size_t take =
            std::min<std::size_t>(count, static_cast<std::size_t>(layout.slotLength));
        std::copy(uv.begin(), uv.begin() + static_cast<std::ptrdiff_t>(take),
                  table.begin() + static_cast<std::ptrdiff_t>(n) * layout.slotLength);
    }
    out.swap(table);
    return true;
}
