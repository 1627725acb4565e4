// Photodiode sampling of the PPG module: the application subscribes a callback per input
// (0..3), starts and stops the module's converter, and the poll thread hands the reports the
// module then sends by itself to _CallbackPPGSampling, which calls the subscribers.
//
// State (g_PPGSamplingCBs, g_PPG_PDSamplingEnabled; the running flag is g_bPPGSamplingRunning
// of protocol/Discipline.h): changed by API calls under the API lock, the callbacks only while
// sampling does not run; read by the poll thread under the interrupt lock.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kPDSamplingInputs = 4;
constexpr std::size_t kSamplingReportHeader = 8;

// The converter's input mask for subscriptions subscribed[0..3]: bit i per subscribed input;
// with three or four subscriptions all four inputs (15).
int PDSamplingInputMask(const bool* subscribed);

// Calls frame(input, value, status) for every sample of every whole frame of a sampling report
// (AD FF, mask at byte 4, frames of 2k + 1 bytes from byte 8: k big-endian 16-bit samples in
// ascending input order, then a status byte). A frame cut off by the end of the report is not
// delivered.
template <typename Frame>
void ForEachPDSample(const std::uint8_t* report, std::size_t length, Frame frame) {
    if (report == nullptr || length <= 4) return;
    const int mask = report[4] & 0x0F;
    std::size_t k = 0;
    for (int i = 0; i < kPDSamplingInputs; ++i) k += (mask >> i) & 1;
    if (k == 0) return;
    for (std::size_t offset = kSamplingReportHeader; offset + 2 * k < length; offset += 2 * k + 1) {
        const int status = report[offset + 2 * k];
        std::size_t j = 0;
        for (int i = 0; i < kPDSamplingInputs; ++i) {
            if (!((mask >> i) & 1)) continue;
            const int value = report[offset + 2 * j] * 256 + report[offset + 2 * j + 1];
            frame(i, value, status);
            ++j;
        }
    }
}

// ConverterSelect with the mask: 0; -2 not acknowledged; -1 the exchange failed.
int _SetPPGAD(int mask);
// ConverterRead with the mask (reply read and ignored): 0 when the command was written, else -1.
int _ReadPPGAD(int mask);
// ConverterSelect 0 (reply read and ignored): 0 when the command was written, else -1.
int _StopPPGAD();
// Decodes one sampling report and calls the subscribed callbacks (poll thread).
void _CallbackPPGSampling(const unsigned char* report, int length);
