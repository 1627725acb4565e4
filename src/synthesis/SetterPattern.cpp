#include "synthesis/SetterPattern.h"

#include "synthesis/PlaybackRequests.h"

void ApplySetting(Apply how) {
    switch (how) {
        case Apply::NextPeriod:
            playback::RequestChange();
            break;
        case Apply::AtOnce:
            playback::ApplyChangeNow();
            break;
        case Apply::Relays:
            playback::UpdateRelays();
            break;
        case Apply::Stored:
            break;
    }
}

bool InSettingRange(double value, double low, double high) {
    return value >= low && value <= high;  // false for NaN
}

int SetDoubleSetting(double value, double low, double high, const char* journal,
                     CRelaxed<double>& field, Apply how) {
    return RunSetter([&] {
        if (!InSettingRange(value, low, high)) return -2;
        _outputLog(journal, value);
        field = value;
        ApplySetting(how);
        return 0;
    });
}

int SetFlagSetting(bool value, const char* journal, CRelaxed<bool>& field, Apply how) {
    return RunSetter([&] {
        _outputLog(journal, JournalBool(value));
        field = value;
        ApplySetting(how);
        return 0;
    });
}
