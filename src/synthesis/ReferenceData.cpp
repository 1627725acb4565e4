#include "synthesis/ReferenceData.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "synthesis/NoiseRecords.h"
#include "synthesis/TableBlob.h"
#include "tolvan.h"

namespace {

// Tables found in the embedded blob, checked against their layout.
struct BuiltInTables {
    TableView views[kReferenceTableCount];
};

BuiltInTables ParseBuiltIn() {
    BuiltInTables tables;
    std::size_t size = 0;
    const unsigned char* blob = EmbeddedTablesBlob(&size);
    for (const tableblob::Entry& entry : tableblob::Read(blob, size)) {
        for (int i = 0; i < kReferenceTableCount; ++i) {
            const ReferenceTableLayout& layout =
                ReferenceTableLayoutOf(static_cast<ReferenceTable>(i));
            const std::uint32_t expected = static_cast<std::uint32_t>(layout.slotLength) *
                                           static_cast<std::uint32_t>(layout.pieceCount);
            if (entry.name == layout.name && entry.count == expected &&
                entry.rate == static_cast<std::uint32_t>(layout.rate)) {
                tables.views[i] = {entry.samples, static_cast<int>(entry.count), layout.rate};
            }
        }
    }
    return tables;
}

const BuiltInTables& BuiltIn() {
    static const BuiltInTables tables = ParseBuiltIn();
    return tables;
}

// The directory is read when the library loads, so that the first lookup on the play thread
// finds it ready and allocates nothing.
[[maybe_unused]] const bool s_builtInRead = (BuiltIn(), true);

// A table loaded at run time: its samples and the view of them.
struct LoadedTable {
    std::vector<std::int32_t> samples;
    TableView view;
};

// Tables loaded at run time: published once, then never changed or released (the play thread
// may read them until the process ends).
std::atomic<const LoadedTable*> s_loaded[kReferenceTableCount] = {};
// Guards the loads and s_failedDir.
std::mutex s_loadMutex;
// The directory of the last failed load of each table.
std::string s_failedDir[kReferenceTableCount];

int IndexOf(ReferenceTable id) {
    const int i = static_cast<int>(id);
    return i >= 0 && i < kReferenceTableCount ? i : -1;
}

TableView Load(int i) {
    const char* env = std::getenv("TOLVAN_DATA_DIR");
    if (env == nullptr || env[0] == '\0') return {};
    const std::string dir = env;
    std::lock_guard<std::mutex> lock(s_loadMutex);
    if (const LoadedTable* table = s_loaded[i].load(std::memory_order_acquire)) return table->view;
    if (s_failedDir[i] == dir) return {};
    const ReferenceTableLayout& layout = ReferenceTableLayoutOf(static_cast<ReferenceTable>(i));
    std::unique_ptr<LoadedTable> table(new LoadedTable());
    if (!BuildReferenceTable(dir, layout, table->samples, nullptr)) {
        s_failedDir[i] = dir;
        return {};
    }
    table->view = {table->samples.data(), static_cast<int>(table->samples.size()), layout.rate};
    const TableView view = table->view;
    s_loaded[i].store(table.release(), std::memory_order_release);
    return view;
}

NOISE_RECORD_VIEW ToNoiseView(const TableView& view) {
    NOISE_RECORD_VIEW record;
    if (view) {
        record.samples = view.samples;
        record.length = view.count;
        record.rate = view.rate;
    }
    return record;
}

bool NoiseTableOf(int which, ReferenceTable* id) {
    switch (which) {
        case 1:
            *id = ReferenceTable::EM;
            return true;
        case 2:
            *id = ReferenceTable::BW;
            return true;
        case 3:
            *id = ReferenceTable::MA;
            return true;
        default:
            return false;
    }
}

}  // namespace

TableView PeekTable(ReferenceTable id) {
    const int i = IndexOf(id);
    if (i < 0) return {};
    const TableView& builtIn = BuiltIn().views[i];
    if (builtIn) return builtIn;
    if (const LoadedTable* table = s_loaded[i].load(std::memory_order_acquire)) return table->view;
    return {};
}

TableView AcquireTable(ReferenceTable id) {
    const int i = IndexOf(id);
    if (i < 0) return {};
    if (TableView view = PeekTable(id)) return view;
    try {
        return Load(i);
    } catch (...) {  // out of memory while reading the records
        return {};
    }
}

bool IsTableBuiltIn(ReferenceTable id) {
    const int i = IndexOf(id);
    return i >= 0 && static_cast<bool>(BuiltIn().views[i]);
}

NOISE_RECORD_VIEW NoiseRecord(int which) {
    ReferenceTable id;
    if (!NoiseTableOf(which, &id)) return {};
    return ToNoiseView(AcquireTable(id));
}

extern "C" TOLV_API bool TOLVIsStandardDataAvailable(int table) {
    if (table < 0 || table >= kReferenceTableCount) return false;
    try {
        return static_cast<bool>(AcquireTable(static_cast<ReferenceTable>(table)));
    } catch (...) {
        return false;
    }
}
