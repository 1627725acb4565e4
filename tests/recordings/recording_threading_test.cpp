// A play-thread reader never sees a mixed or released recording while loaders replace it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "recordings/Recording.h"
#include "tolvan.h"

namespace {

// Recording k has k * 100 samples of value k at rate k * 1000, so any (count, rate, sample)
// mix is detectable.
TEST(CurrentRecordingThreads, ReaderSeesConsistentRecordingsDuringLoads) {
    std::atomic<bool> stop{false};
    std::atomic<long> inconsistent{0};
    std::atomic<long> reads{0};
    std::thread player([&] {
        while (!stop.load()) {
            EcgRecordingPtr r = CurrentEcgRecording();
            int n = r->Count();
            if (n == 0) continue;
            int k = n / 100;
            double period = r->PeriodSeconds();
            if (r->SampleRate() != k * 1000.0 || period != n / (k * 1000.0)) ++inconsistent;
            for (int i = 0; i < n; i += 7) {
                if (r->MillivoltsAt(i) != k) ++inconsistent;
            }
            if (r->MillivoltsAtTime(period * 0.999) != k) ++inconsistent;
            ++reads;
        }
    });
    for (int round = 0; round < 2000 || (reads.load() < 50 && round < 5000000); ++round) {
        int k = 1 + round % 9;
        std::vector<double> samples(static_cast<std::size_t>(k * 100), k);
        if (round % 3 == 0) {
            SetRawArray(static_cast<int>(samples.size()), samples.data(), k * 1000);
        } else {
            InstallEcgSamples(std::move(samples), k * 1000.0);
        }
        if (round % 50 == 0) ClearRawArray();
    }
    stop = true;
    player.join();
    EXPECT_EQ(inconsistent.load(), 0);
    EXPECT_GT(reads.load(), 0);
}

}  // namespace
