// Stream packets: fifty 64-byte sub-packets of DAC codes per 3200-byte packet, built sample by
// sample while the play clock (synthesis/PlayClock.h) is stepped with its drift correction; the
// stop packet; and the transmission rates of the PPG module with its own microcontroller.
//
// The packet builder runs on the play thread (or the simulation timer's thread) and, while
// playing, is the only one that steps the play clock and writes the sequence number.
#pragma once

#include <cstdint>

// Builds the next packet, marks playback running and writes it when a connected simulator paces
// playback (otherwise the packet only drives the callbacks). The result of the write is not
// examined; no reply is read here.
void _SendNextPacket(bool first);
// Fills the fifty sub-packets of a 3200-byte buffer for the current operate mode.
void DoSendNextPacket(std::uint8_t* buffer);
// Builds and sends the stop packet (0 mV on every channel) and reads its reply.
void _SendStopPacket();
// The sequence number restarts at 0 (playback start).
void ResetStreamSequence();
// Clears the clock-drift accumulators (play start).
void ResetPacketClockDrift();

// Writes the transmission-rate settings of the 0x2112 module that differ from the values last
// written; true for any other module. The first failing write returns false. The first and
// second rate values of PPG channels 1 and 2, taken in this order, are written as settings 1
// (channel 1 first), 2 (channel 2 first), 25 (channel 1 second) and 26 (channel 2 second).
bool UpdateMCUTransmissionRate(unsigned short channel1First, unsigned short channel1Second,
                               unsigned short channel2First, unsigned short channel2Second);
// Forgets the values last written (a new connection).
void ForgetTransmissionRates();
