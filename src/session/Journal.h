// The call journal: when switched on, every accepted setter appends one line written as the
// call itself (for example "TOLVSetAmplitude(1.50);") to a text file chosen by the application.
//
// Setters call _outputLog while holding the API lock, after their checks passed and before
// they change state; a refused call writes nothing. The file is opened and closed for every
// entry.
#pragma once

#include "tolvan.h"  // EnableSaveLog, DisableSaveLog, GetSaveLogPath

// Appends one entry (formatted text and "\n"). Entries of any length are written whole up to
// 64 KiB; a longer one is cut at a character boundary. A file that cannot be opened drops the
// entry silently.
void _outputLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// "true" or "false", as booleans are journaled.
inline const char* JournalBool(bool value) {
    return value ? "true" : "false";
}
