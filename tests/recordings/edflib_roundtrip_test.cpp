// Round trip with an independent implementation: EDF+ files written by EDFlib, read back by
// our reader and compared sample by sample with EDFlib's own reading.
#include <edflib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "recordings/EdfFile.h"
#include "recordings/RecordingTestSupport.h"
#include "tolvan.h"

using rectest::ScratchDir;

namespace {

struct SignalPlan {
    const char* label;
    int samplesPerRecord;
    double physMin, physMax;
    int digMin, digMax;
    const char* dimension = "uV";
};

// Writes `records` one-second records of every planned signal (a sine plus a ramp, in the
// physical range) and one annotation. Returns false when EDFlib refuses.
bool WriteWithEdflib(const std::string& path, const std::vector<SignalPlan>& plan, int records) {
    int h = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_EDFPLUS,
                                   static_cast<int>(plan.size()));
    if (h < 0) return false;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        int s = static_cast<int>(i);
        const SignalPlan& p = plan[i];
        if (edf_set_samplefrequency(h, s, p.samplesPerRecord) ||
            edf_set_physical_maximum(h, s, p.physMax) ||
            edf_set_physical_minimum(h, s, p.physMin) || edf_set_digital_maximum(h, s, p.digMax) ||
            edf_set_digital_minimum(h, s, p.digMin) || edf_set_label(h, s, p.label) ||
            edf_set_physical_dimension(h, s, p.dimension)) {
            edfclose_file(h);
            return false;
        }
    }
    edf_set_patientname(h, "Test Patient");
    edf_set_equipment(h, "tolvan tests");
    for (int r = 0; r < records; ++r) {
        for (const SignalPlan& p : plan) {
            std::vector<double> buf(static_cast<std::size_t>(p.samplesPerRecord));
            double mid = (p.physMax + p.physMin) / 2, half = (p.physMax - p.physMin) / 2;
            for (int i = 0; i < p.samplesPerRecord; ++i) {
                double t = r + static_cast<double>(i) / p.samplesPerRecord;
                buf[static_cast<std::size_t>(i)] = mid + half * 0.9 * std::sin(2 * M_PI * 1.3 * t) +
                                                   half * 0.05 * (i % 7 - 3) / 3.0;
            }
            if (edfwrite_physical_samples(h, buf.data()) != 0) {
                edfclose_file(h);
                return false;
            }
        }
    }
    edfwrite_annotation_utf8(h, 0, -1, "start");
    return edfclose_file(h) == 0;
}

std::vector<double> ReadWithEdflib(const std::string& path, int signal) {
    edf_hdr_struct hdr{};
    if (edfopen_file_readonly(path.c_str(), &hdr, EDFLIB_DO_NOT_READ_ANNOTATIONS) != 0) return {};
    long long n = hdr.signalparam[signal].smp_in_file;
    std::vector<double> out(static_cast<std::size_t>(n));
    int got = edfread_physical_samples(hdr.handle, signal, static_cast<int>(n), out.data());
    edfclose_file(hdr.handle);
    out.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
    return out;
}

// Loads `signal` through the API and compares it with EDFlib's physical values times
// `mvPerUnit`, clamped to 20 mV. Returns how many samples were clamped.
int ExpectLoadedAsMillivolts(const std::string& path, int signal, int rate,
                             const std::vector<double>& theirs, double mvPerUnit) {
    EXPECT_EQ(TOLVLoadECGedf(path.c_str(), signal), static_cast<int>(theirs.size()));
    EcgRecordingPtr rec = CurrentEcgRecording();
    EXPECT_EQ(rec->SampleRate(), rate);
    if (rec->Count() != static_cast<long long>(theirs.size())) return 0;
    const double tolerance = std::fmax(1e-6, 1e-5 * mvPerUnit);  // our values pass a float
    int clamped = 0;
    for (std::size_t i = 0; i < theirs.size(); ++i) {
        double expected = std::fmax(-20.0, std::fmin(20.0, theirs[i] * mvPerUnit));
        clamped += std::fabs(expected) == 20.0;
        double ours = rec->MillivoltsAt(static_cast<long long>(i));
        if (std::fabs(ours - expected) > tolerance) {
            ADD_FAILURE() << "signal " << signal << " sample " << i << ": " << ours << " mV, "
                          << expected << " expected";
            return clamped;
        }
    }
    return clamped;
}

TEST(EdflibRoundTrip, SamplesMatchEdflibsOwnReading) {
    const std::vector<SignalPlan> plan = {
        {"ECG I", 500, -5000, 5000, -32768, 32767},
        {"ECG II", 250, -3276.8, 3276.7, -2048, 2047},
        {"Resp", 100, 0, 1000, 0, 1000},
    };
    ScratchDir dir;
    std::string path = dir.Join("edflib.edf");
    ASSERT_TRUE(WriteWithEdflib(path, plan, 4));

    EdfFile edf;
    ASSERT_EQ(edf.readFile(path.c_str()), 0);
    // EDFlib adds the annotation signal last; the data signals keep their indices.
    ASSERT_EQ(edf.Header().numberOfSignals, 4);
    EXPECT_TRUE(edf.Header().signals[3].IsAnnotation());
    EXPECT_EQ(edf.Header().durationOfDataRecord, 1);

    for (int s = 0; s < 3; ++s) {
        std::vector<double> theirs = ReadWithEdflib(path, s);
        std::vector<float> ours;
        ASSERT_EQ(edf.retrieveSignalSampleValues(s, ours), 4 * plan[s].samplesPerRecord);
        ASSERT_EQ(ours.size(), theirs.size());
        double tolerance = (plan[s].physMax - plan[s].physMin) * 1e-6;
        for (std::size_t i = 0; i < ours.size(); ++i) {
            ASSERT_NEAR(ours[i], theirs[i], tolerance) << "signal " << s << " sample " << i;
        }
        // Through the API: microvolts become clamped millivolts at the record's rate.
        ExpectLoadedAsMillivolts(path, s, plan[s].samplesPerRecord, theirs, 0.001);
    }
    EXPECT_EQ(TOLVLoadECGedf(path.c_str(), 3), -3);  // the annotation signal
}

// The physical dimension written by EDFlib: mV is read as millivolts, V as volts (a +-30 mV
// range, so the 20 mV clamp applies after the scaling).
TEST(EdflibRoundTrip, MillivoltAndVoltSignalsAreScaled) {
    std::vector<SignalPlan> plan = {
        {"ECG mV", 250, -10, 10, -32768, 32767},
        {"ECG V", 250, -0.03, 0.03, -32768, 32767},
    };
    plan[0].dimension = "mV";
    plan[1].dimension = "V";
    ScratchDir dir;
    std::string path = dir.Join("units.edf");
    ASSERT_TRUE(WriteWithEdflib(path, plan, 2));

    std::vector<double> mv = ReadWithEdflib(path, 0);
    ASSERT_EQ(mv.size(), 500u);
    EXPECT_EQ(ExpectLoadedAsMillivolts(path, 0, 250, mv, 1.0), 0);
    std::vector<double> volts = ReadWithEdflib(path, 1);
    ASSERT_EQ(volts.size(), 500u);
    EXPECT_GT(ExpectLoadedAsMillivolts(path, 1, 250, volts, 1000.0), 0);
}

}  // namespace
