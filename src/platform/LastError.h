// The text behind TOLVGetLastErrorText: why the last connection attempt (or the last call that
// records a reason) failed, in words a person can act on. Process-wide, guarded by a private
// leaf lock; any thread may write or read it. Never used on the per-sample path.
#pragma once

#include <string>

void SetLastErrorText(const std::string& text);
void ClearLastErrorText();
std::string LastErrorText();
