// The poll thread: reads the port whenever no command owns it; while a stream runs it reads the
// acknowledgement of each stream packet. How commands take the link from it, and the locks it
// shares with them, are the access discipline's (protocol/Discipline.h).
//
// Exactly one poll thread runs at a time: stopping joins it (unless the poll thread itself
// asks), so no poll read can reach a port that a new search has opened. Started and stopped by
// the connect thread and TOLVFree.
#pragma once

#include "protocol/Discipline.h"

void StartPollingThread();
// Asks the poll thread to end and waits for it (unless called by the poll thread itself).
void StopPollingThread();

// The handler of the reports the PPG module sends by itself while photodiode sampling runs
// (messages of at least 8 bytes beginning AD FF). The poll thread calls it with the bytes it
// read, under the interrupt lock. Registered at load by the PPG sampling; none by default (the
// reports are dropped).
using SamplingReportHandler = void (*)(const unsigned char* report, int length);
void RegisterSamplingReportHandler(SamplingReportHandler handler);
