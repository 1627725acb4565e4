// The MIT-BIH noise stress test records, as the noise module reads them: one signal of each
// record in microvolts. A record that is neither built in nor loadable is empty, and its noise
// is then 0 mV.
#pragma once

#include <cstdint>

struct NOISE_RECORD_VIEW {
    const std::int32_t* samples = nullptr;  // microvolts; nullptr when the record is absent
    int length = 0;                         // 650000 for a present record
    int rate = 0;                           // 360 Hz for a present record
};

// Noise record `which` as numbered by the noise selector: 1 EM (electrode motion), 2 BW
// (baseline wander), 3 MA (muscle artefact); any other value is empty. Loads a record that is not
// built in from $TOLVAN_DATA_DIR on first use, so call it when the selection changes, not per
// sample; the view stays valid for the life of the process.
NOISE_RECORD_VIEW NoiseRecord(int which);
