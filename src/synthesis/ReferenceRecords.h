// The reference records behind the constant tables: which WFDB records make up each table, and
// their conversion to 32-bit microvolt samples. Used at build time by the data generator (which
// writes the tables into the library) and at run time by the loader of tables that were not
// built in. Depends only on the WFDB reader and the platform layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The constant tables, in blob order.
enum class ReferenceTable : int {
    IEC227 = 0,  // IEC 60601-2-27 / AAMI EC13 waveforms, 10 slots of 66000 samples, 720 Hz
    IEC251,      // CTS CAL waveforms, 16 slots of 1000 samples, 1000 Hz
    ANE20000,    // CTS ANE20000 beat, 9 channels of 1000 samples, 1000 Hz
    MA,          // MIT-BIH noise stress test: muscle artefact, 650000 samples, 360 Hz
    EM,          // electrode motion
    BW,          // baseline wander
};
constexpr int kReferenceTableCount = 6;

// One record signal that fills one slot of a table.
struct ReferencePiece {
    const char* record;  // record name: <folder>/<record>.hea
    int signal;          // 0-based signal of the record
    int exactCount;      // the record must hold exactly this many samples; 0: at least a slot
};

struct ReferenceTableLayout {
    ReferenceTable id;
    const char* name;    // name of the table in the blob ("IEC227W", ...)
    const char* folder;  // folder of the records below the data directory
    int rate;            // sampling rate every record must have, Hz
    int slotLength;      // samples per slot; slot n starts at slotLength * n
    int pieceCount;
    const ReferencePiece* pieces;  // one per slot, in slot order
};

// The layout of table `id`.
const ReferenceTableLayout& ReferenceTableLayoutOf(ReferenceTable id);

// Microvolts of one converted sample: round(1000 * (adu - baseline) / gain), halves away from
// zero. gain is the header's gain in adu per millivolt (already 200 when the field was 0).
std::int32_t MicrovoltsFromAdu(long long aduMinusBaseline, double gain);

// Reads signal `signal` of the WFDB record <headerPath> (the signal file is the header's
// file-name field, next to the header) and converts every sample to microvolts. rate receives
// the record's sampling rate. False (why set) when the record cannot be read.
bool ConvertWfdbSignal(const std::string& headerPath, int signal, std::vector<std::int32_t>& uv,
                       int& rate, std::string* why);

// Builds table `layout` from the records below dataDir: every slot filled from its record, the
// rest of each slot 0. False (out empty, why set) when any record is missing or does not match
// the rate and sample count the table requires: a table is built whole or not at all.
bool BuildReferenceTable(const std::string& dataDir, const ReferenceTableLayout& layout,
                         std::vector<std::int32_t>& out, std::string* why);
