// The constant tables at run time: the ones built into the library, and those loaded on first
// use from the directory named by the environment variable TOLVAN_DATA_DIR.
//
// Threads: any. Tables never change once present and live for the whole process. PeekTable is
// for the per-sample path (no I/O, no lock); AcquireTable may read files and is for API calls
// and changes.
#pragma once

#include <cstdint>

#include "synthesis/ReferenceRecords.h"

struct TableView {
    const std::int32_t* samples = nullptr;  // microvolts; nullptr when the table is absent
    int count = 0;                          // samples in the table
    int rate = 0;                           // Hz
    explicit operator bool() const { return samples != nullptr; }
};

// The table when it is built in or already loaded; empty otherwise. No I/O.
TableView PeekTable(ReferenceTable id);
// The table; when it is neither built in nor loaded yet, loads it from the records below
// $TOLVAN_DATA_DIR. A failed load is tried again only once the variable names another
// directory. Empty when the table cannot be had.
TableView AcquireTable(ReferenceTable id);
// True when the table was built into the library (not loaded at run time).
bool IsTableBuiltIn(ReferenceTable id);

// The embedded blob (defined in the generated TablesBlob.cpp); nullptr and 0 when none.
const unsigned char* EmbeddedTablesBlob(std::size_t* size);
