// EDF reader: identification rules, header fields and their codes, digital-to-physical
// conversion, the whole-number rate, short files, byte corruption, and date/time parsers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "recordings/EdfFile.h"
#include "recordings/EdfTestWriter.h"
#include "recordings/RecordingCodecs.h"
#include "recordings/RecordingTestSupport.h"
#include "tolvan.h"

using rectest::BuildEdf;
using rectest::CurrentSamples;
using rectest::EdfTestFile;
using rectest::EdfTestSignal;
using rectest::InstallMarker;
using rectest::MarkerStillLoaded;
using rectest::RampSignal;
using rectest::ScratchDir;

namespace {

EdfTestFile TwoSignalFile() {
    EdfTestFile f;
    f.signals = {RampSignal(500, 1000), RampSignal(250, 500)};
    f.signals[1].label = "ECG II";
    return f;
}

int Load(const EdfTestFile& f, int channel) {
    ScratchDir dir;
    return TOLVLoadECGedf(dir.Write("rec.edf", BuildEdf(f)).c_str(), channel);
}

TEST(LoadECGedf, LoadsOneSignalAsMillivolts) {
    EdfTestFile f = TwoSignalFile();
    ASSERT_EQ(Load(f, 1), 500);
    std::vector<double> s = CurrentSamples();
    // Physical range 6553.5 uV over 65535 digital steps: 0.1 uV per step, 0.0001 mV.
    EXPECT_NEAR(s[0], 0.0, 1e-6);
    EXPECT_NEAR(s[123], 0.0123, 1e-6);
    EXPECT_NEAR(s[499], 0.0499, 1e-6);
    EXPECT_EQ(CurrentEcgRecording()->SampleRate(), 250.0);
    ASSERT_EQ(Load(f, 0), 1000);
    EXPECT_EQ(CurrentEcgRecording()->SampleRate(), 500.0);
}

struct EdfCase {
    const char* name;
    void (*edit)(EdfTestFile&);
    int channel;
    int expected;
    bool previousKept;
};

class EdfHeaderRules : public ::testing::TestWithParam<EdfCase> {};

TEST_P(EdfHeaderRules, GiveTheExactCode) {
    EdfTestFile f = TwoSignalFile();
    GetParam().edit(f);
    InstallMarker();
    EXPECT_EQ(Load(f, GetParam().channel), GetParam().expected);
    EXPECT_EQ(MarkerStillLoaded(), GetParam().previousKept);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EdfHeaderRules,
    ::testing::Values(
        EdfCase{"intact", [](EdfTestFile&) {}, 0, 1000, false},
        EdfCase{"patientSingleWord", [](EdfTestFile& f) { f.patient = "Harry"; }, 0, -2, true},
        EdfCase{"patientThreeWords", [](EdfTestFile& f) { f.patient = "X F X"; }, 0, -2, true},
        EdfCase{"patientFourWords", [](EdfTestFile& f) { f.patient = "X\tF X  X"; }, 0, 1000, false},
        EdfCase{"startdateAnyCase",
                [](EdfTestFile& f) { f.recording = "sTaRtDaTe 02-MAR-2002 a b c"; }, 0, 1000, false},
        EdfCase{"recordingFourWords",
                [](EdfTestFile& f) { f.recording = "Startdate 02-MAR-2002 a b"; }, 0, -2, true},
        EdfCase{"recordingNotStartdate",
                [](EdfTestFile& f) { f.recording = "Start 02-MAR-2002 a b c"; }, 0, -2, true},
        EdfCase{"badDatesDoNotRefuse",
                [](EdfTestFile& f) {
                    f.startDate = "xx.yy.zz";
                    f.startTime = "25:00:00";
                    f.recording = "Startdate X X X X";
                },
                0, 1000, false},
        EdfCase{"headerBytesZero", [](EdfTestFile& f) { f.headerBytes = "0"; }, 0, -2, true},
        EdfCase{"headerBytesWrong", [](EdfTestFile& f) { f.headerBytes = "512"; }, 0, -2, true},
        EdfCase{"recordsZero", [](EdfTestFile& f) { f.records = "0"; }, 0, -2, true},
        EdfCase{"recordsUnknown",
                [](EdfTestFile& f) {
                    f.records = "-1";
                    f.recordsWritten = 2;
                },
                0, -2, true},
        EdfCase{"recordsText", [](EdfTestFile& f) { f.records = "many"; }, 0, -2, true},
        EdfCase{"durationHalf", [](EdfTestFile& f) { f.duration = "0.5"; }, 0, -2, true},
        EdfCase{"durationNegative", [](EdfTestFile& f) { f.duration = "-1"; }, 0, -2, true},
        EdfCase{"signalsZero", [](EdfTestFile& f) { f.signalCount = "0"; }, 0, -2, true},
        EdfCase{"signals257", [](EdfTestFile& f) { f.signalCount = "257"; }, 0, -2, true},
        EdfCase{"samplesPerRecordText",
                [](EdfTestFile& f) { f.signals[1].samplesPerRecord = "x"; }, 0, -2, true},
        EdfCase{"samplesPerRecordZero",
                [](EdfTestFile& f) { f.signals[0].samplesPerRecord = "0"; }, 1, -2, true},
        EdfCase{"equalDigitalLimits", [](EdfTestFile& f) { f.signals[0].digMax = "-32768"; }, 0,
                -2, true},
        EdfCase{"channelEqualsSignals", [](EdfTestFile&) {}, 2, -3, true},
        EdfCase{"channelNegative", [](EdfTestFile&) {}, -1, -3, true},
        EdfCase{"annotationSignal",
                [](EdfTestFile& f) { f.signals[1].label = "EDF Annotations"; }, 1, -3, true},
        EdfCase{"annotationLabelMustBeExact",
                [](EdfTestFile& f) { f.signals[1].label = "EDF Annotations2"; }, 1, 500, false},
        EdfCase{"rate99KeepsSamples",
                [](EdfTestFile& f) {
                    f.duration = "2";
                    f.signals[0] = RampSignal(199, 398);
                },
                0, -5, false},
        EdfCase{"rate0LeavesNothing",
                [](EdfTestFile& f) {
                    f.duration = "3";
                    f.signals[0] = RampSignal(2, 4);
                },
                0, -5, false}),
    [](const ::testing::TestParamInfo<EdfCase>& info) { return info.param.name; });

TEST(LoadECGedf, RecordDurationIsTheIntegerPart) {
    EdfTestFile f = TwoSignalFile();
    f.duration = "1.5";
    ASSERT_EQ(Load(f, 0), 1000);
    EXPECT_EQ(CurrentEcgRecording()->SampleRate(), 500.0);
    f.duration = "2";
    ASSERT_EQ(Load(f, 0), 1000);
    EXPECT_EQ(CurrentEcgRecording()->SampleRate(), 250.0);
}

TEST(LoadECGedf, WholeNumberRateOutOfRangeKeepsTheSamples) {
    EdfTestFile f = TwoSignalFile();
    f.duration = "2";
    f.signals[0] = RampSignal(199, 398);
    ASSERT_EQ(Load(f, 0), -5);
    EXPECT_EQ(CurrentEcgRecording()->Count(), 398);
    EXPECT_EQ(CurrentEcgRecording()->SampleRate(), 99.0);
    f.duration = "3";
    f.signals[0] = RampSignal(2, 4);
    ASSERT_EQ(Load(f, 0), -5);
    EXPECT_EQ(CurrentEcgRecording()->Count(), 0);  // 0 Hz cannot be played
}

TEST(LoadECGedf, DigitalExtremesMapToPhysicalExtremesAndClamp) {
    EdfTestFile f;
    EdfTestSignal s;
    s.physMin = "-3000";
    s.physMax = "25000";
    s.digMin = "-2048";
    s.digMax = "2047";
    s.samplesPerRecord = "100";
    s.samples = {2047, -2048, 0};
    f.signals = {s};
    f.records = "1";
    ASSERT_EQ(Load(f, 0), 100);
    std::vector<double> v = CurrentSamples();
    EXPECT_EQ(v[0], 20.0);  // 25000 uV plays as 20 mV
    EXPECT_NEAR(v[1], -3.0, 1e-6);

    EdfFile edf;
    ScratchDir dir;
    ASSERT_EQ(edf.readFile(dir.Write("x.edf", BuildEdf(f)).c_str()), 0);
    std::vector<float> physical;
    ASSERT_EQ(edf.retrieveSignalSampleValues(0, physical), 100);
    EXPECT_FLOAT_EQ(physical[0], 25000.0f);
    EXPECT_FLOAT_EQ(physical[1], -3000.0f);
    const EdfSignal& sig = edf.Header().signals[0];
    EXPECT_NEAR((2047 + sig.Offset()) * sig.AmplifierGain(), 25000.0, 1e-6);
    EXPECT_NEAR(sig.AmplifierGain(), 28000.0 / 4095.0, 1e-12);
}

TEST(LoadECGedf, EqualPhysicalLimitsGiveThatValue) {
    EdfTestFile f = TwoSignalFile();
    f.signals[0].physMin = "1500";
    f.signals[0].physMax = "1500";
    ASSERT_EQ(Load(f, 0), 1000);
    for (double v : CurrentSamples()) ASSERT_DOUBLE_EQ(v, 1.5);
}

// --- Physical dimension ---------------------------------------------------------------------

// Digital d is physical d / 1000 (0.001 per step): 0, 1.5, -0.004, 0.025, -32.768.
const std::vector<std::int16_t> kUnitDigital = {0, 1500, -4, 25, -32768};

// The loaded millivolts when those physical values are read in one unit (clamped to 20), and
// the tolerance that the float physical limits (32.767 is not exact in a float) call for.
struct UnitReading {
    std::vector<double> millivolts;
    double tolerance;
};
const UnitReading kReadAsMicrovolts = {{0.0, 0.0015, -0.000004, 0.000025, -0.032768}, 1e-8};
const UnitReading kReadAsMillivolts = {{0.0, 1.5, -0.004, 0.025, -20.0}, 1e-5};
const UnitReading kReadAsVolts = {{0.0, 20.0, -4.0, 20.0, -20.0}, 1e-2};

struct UnitCase {
    const char* name;
    const char* dimension;  // the field's bytes, before the writer pads them with spaces
    const UnitReading* expected;
};

class EdfPhysicalDimension : public ::testing::TestWithParam<UnitCase> {};

TEST_P(EdfPhysicalDimension, ScalesToMillivoltsBeforeTheClamp) {
    EdfTestFile f;
    EdfTestSignal s;
    s.dimension = GetParam().dimension;
    s.physMin = "-32.768";
    s.physMax = "32.767";
    s.samplesPerRecord = "100";
    s.samples = kUnitDigital;
    f.signals = {RampSignal(100, 100), s};  // the unit of the selected signal counts
    f.signals[0].dimension = "V";
    f.records = "1";
    ASSERT_EQ(Load(f, 1), 100);
    std::vector<double> v = CurrentSamples();
    const UnitReading& expected = *GetParam().expected;
    for (std::size_t i = 0; i < expected.millivolts.size(); ++i) {
        EXPECT_NEAR(v[i], expected.millivolts[i], expected.tolerance) << "sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EdfPhysicalDimension,
    ::testing::Values(
        UnitCase{"uV", "uV", &kReadAsMicrovolts}, UnitCase{"UV", "UV", &kReadAsMicrovolts},
        UnitCase{"microUtf8", "\xC2\xB5V", &kReadAsMicrovolts},
        UnitCase{"microUtf8LowerV", "\xC2\xB5v", &kReadAsMicrovolts},
        UnitCase{"microLatin1", "\xB5V", &kReadAsMicrovolts},
        UnitCase{"greekMuUtf8", "\xCE\xBCV", &kReadAsMicrovolts},
        UnitCase{"mV", "mV", &kReadAsMillivolts}, UnitCase{"MV", "MV", &kReadAsMillivolts},
        UnitCase{"mv", "mv", &kReadAsMillivolts}, UnitCase{"V", "V", &kReadAsVolts},
        UnitCase{"v", "v", &kReadAsVolts}, UnitCase{"empty", "", &kReadAsMicrovolts},
        UnitCase{"mmHg", "mmHg", &kReadAsMicrovolts}, UnitCase{"nV", "nV", &kReadAsMicrovolts},
        UnitCase{"kV", "kV", &kReadAsMicrovolts},
        UnitCase{"mVWithSuffix", "mV/s", &kReadAsMicrovolts},
        UnitCase{"leadingSpace", " mV", &kReadAsMicrovolts}),
    [](const ::testing::TestParamInfo<UnitCase>& info) { return info.param.name; });

TEST(LoadECGedf, ShortFileYieldsTheSamplesPresent) {
    EdfTestFile f = TwoSignalFile();
    f.records = "10";
    f.recordsWritten = 2;
    std::string bytes = BuildEdf(f);
    ScratchDir dir;
    ASSERT_EQ(TOLVLoadECGedf(dir.Write("a.edf", bytes).c_str(), 1), 500);
    // Cut inside the third record: 100 samples of signal 0 present, none of signal 1.
    std::string cut = bytes + std::string(200, '\0');
    ASSERT_EQ(TOLVLoadECGedf(dir.Write("b.edf", cut).c_str(), 0), 1100);
    ASSERT_EQ(TOLVLoadECGedf(dir.Write("c.edf", cut).c_str(), 1), 500);
    // Headers only: no sample, no failure.
    ASSERT_EQ(TOLVLoadECGedf(dir.Write("d.edf", bytes.substr(0, 768)).c_str(), 0), 0);
    EXPECT_EQ(TOLVLoadECGedf(dir.Write("e.edf", bytes.substr(0, 700)).c_str(), 0), -2);
    EXPECT_EQ(TOLVLoadECGedf(dir.Write("f.edf", bytes.substr(0, 255)).c_str(), 0), -2);
    EXPECT_EQ(TOLVLoadECGedf("/nonexistent.edf", 0), -1);
    EXPECT_EQ(TOLVLoadECGedf(nullptr, 0), -1);
}

// A file of several megabytes (many of the one-pass reader's reads): each signal, whole or cut
// inside a later record, gives the values of the record-by-record reader, scaled and clamped.
struct LargeEdfCase {
    const char* name;
    int signal;
    std::size_t cutBytes;  // removed from the end of the file
};

class EdfLargeFile : public testing::TestWithParam<LargeEdfCase> {};

TEST_P(EdfLargeFile, OnePassMatchesTheRecordReader) {
    const LargeEdfCase& c = GetParam();
    EdfTestFile f;
    f.records = "1500";
    const char* samplesPerRecord[] = {"1000", "700", "300"};
    for (int s = 0; s < 3; ++s) {
        EdfTestSignal signal;
        signal.physMin = "-40000";
        signal.physMax = "40000";
        signal.samplesPerRecord = samplesPerRecord[s];
        const int count = 1500 * std::atoi(samplesPerRecord[s]);
        for (int i = 0; i < count; ++i) {
            signal.samples.push_back(static_cast<std::int16_t>((i * 2654435761u + s) >> 16));
        }
        f.signals.push_back(signal);
    }
    std::string bytes = BuildEdf(f);
    bytes.resize(bytes.size() - c.cutBytes);
    ScratchDir dir;
    const std::string path = dir.Write("big.edf", bytes);
    EdfFile reference;
    ASSERT_EQ(reference.readFile(path.c_str()), 0);
    std::vector<float> physical;
    const int count = reference.retrieveSignalSampleValues(c.signal, physical);
    ASSERT_GT(count, 0);
    EdfFile edf;
    ASSERT_EQ(edf.readFile(path.c_str()), 0);
    SampleVector millivolts;
    ASSERT_EQ(edf.readSignalMillivolts(c.signal, 0.001, millivolts), count);
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(millivolts[static_cast<std::size_t>(i)],
                  ClampMillivolts(physical[static_cast<std::size_t>(i)] * 0.001))
            << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, EdfLargeFile,
                         testing::Values(LargeEdfCase{"first", 0, 0}, LargeEdfCase{"middle", 1, 0},
                                         LargeEdfCase{"last", 2, 0},
                                         LargeEdfCase{"firstCutInItsSamples", 0, 3301},
                                         LargeEdfCase{"middleCutInItsSamples", 1, 1001},
                                         LargeEdfCase{"lastCutBeforeItsSamples", 2, 599}),
                         [](const testing::TestParamInfo<LargeEdfCase>& info) {
                             return info.param.name;
                         });

// One byte of the fixed or signal header changed, and the code it must give.
struct Flip {
    const char* name;
    std::size_t offset;
    char byte;
    int expected;
};

class EdfByteCorruption : public ::testing::TestWithParam<Flip> {};

TEST_P(EdfByteCorruption, GivesTheExactCode) {
    std::string bytes = BuildEdf(TwoSignalFile());
    bytes[GetParam().offset] = GetParam().byte;
    ScratchDir dir;
    EXPECT_EQ(TOLVLoadECGedf(dir.Write("x.edf", bytes).c_str(), 0), GetParam().expected);
}

// Offsets: patient 8, recording 88, header bytes 184, records 236, duration 244, signals 252;
// signal block at 256: labels 256, ..., samples per record at 256 + 2 * 216 = 688.
INSTANTIATE_TEST_SUITE_P(
    Cases, EdfByteCorruption,
    ::testing::Values(Flip{"versionIsNotChecked", 0, 'X', 1000},
                      Flip{"patientSubfieldsJoined", 19, '_', -2},  // "MCH-0234567_F ..."
                      Flip{"recordingStartdateMisspelt", 90, 'x', -2},
                      Flip{"headerBytes", 184, '9', -2}, Flip{"recordsDigit", 236, 'x', -2},
                      Flip{"recordsMinus", 236, '-', -2}, Flip{"durationZero", 244, '0', -2},
                      Flip{"signalsOne", 252, '1', -2},  // header bytes no longer match
                      Flip{"signalsNine", 252, '9', -2}, Flip{"labelOfOtherSignal", 272, 'x', 1000},
                      Flip{"samplesPerRecordLetter", 688, 'x', -2},
                      Flip{"samplesPerRecord900", 688, '9',
                           1250}),  // one record and 350 of the next
    [](const ::testing::TestParamInfo<Flip>& info) { return info.param.name; });

// --- Dates and times ----------------------------------------------------------------------------

struct DateCase {
    const char* text;
    const char* pattern;
    int expected;
};

class DateParsing : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateParsing, KnownAnswers) {
    EXPECT_EQ(ParseDate(GetParam().text, GetParam().pattern), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DateParsing,
                         ::testing::Values(DateCase{"02-MAR-2002", "dd-MMM-yyyy", 20020302},
                                           DateCase{"31-dec-1999", "dd-MMM-yyyy", 19991231},
                                           DateCase{"02-XYZ-2002", "dd-MMM-yyyy", 20110101},
                                           DateCase{"X", "dd-MMM-yyyy", 20110101},
                                           DateCase{"", "dd-MMM-yyyy", 20110101},
                                           DateCase{"02.03.02", "dd.MM.yy", 20020302},
                                           DateCase{"01.01.80", "dd.MM.yy", 20800101},
                                           DateCase{"01.01.81", "dd.MM.yy", 19810101},
                                           DateCase{"01.13.81", "dd.MM.yy", 20110101},
                                           DateCase{"00.01.81", "dd.MM.yy", 20110101},
                                           DateCase{"01-01-81", "dd.MM.yy", 20110101}));

TEST(TimeParsing, KnownAnswers) {
    EXPECT_EQ(ParseTime("14.30.05", "HH.mm.ss"), 143005);
    EXPECT_EQ(ParseTime("00.00.00", "HH.mm.ss"), 0);
    EXPECT_EQ(ParseTime("24.00.00", "HH.mm.ss"), 0);
    EXPECT_EQ(ParseTime("14:30:05", "HH.mm.ss"), 0);
    EXPECT_EQ(ParseTime("1.2.3", "HH.mm.ss"), 0);
    EXPECT_EQ(iMMMtoMonth("sep"), 9);
    EXPECT_EQ(iMMMtoMonth("Dec"), 12);
    EXPECT_EQ(iMMMtoMonth("Se"), 0);
    EXPECT_EQ(iMMMtoMonth("XYZ"), 0);
}

TEST(EdfHeader, IdentificationSubfields) {
    EdfFile edf;
    ScratchDir dir;
    EdfTestFile f = TwoSignalFile();
    f.patient = "MCH-0234567 F 02-MAY-1951 Haagse_Harry extra more";
    ASSERT_EQ(edf.readFile(dir.Write("x.edf", BuildEdf(f)).c_str()), 0);
    const EdfHeader& h = edf.Header();
    EXPECT_EQ(h.patient.code, "MCH-0234567");
    EXPECT_EQ(h.patient.sex, "F");
    EXPECT_EQ(h.patient.birthDate, 19510502);
    EXPECT_EQ(h.patient.name, "Haagse_Harry");
    EXPECT_EQ(h.patient.additional, (std::vector<std::string>{"extra", "more"}));
    EXPECT_EQ(h.recording.startDate, 20020302);
    EXPECT_EQ(h.recording.administrationCode, "PSG-1234/2002");
    EXPECT_EQ(h.recording.technician, "NN");
    EXPECT_EQ(h.recording.equipment, "Telemetry03");
    EXPECT_EQ(h.startDate, 20020302);
    EXPECT_EQ(h.startTime, 143000);
    EXPECT_EQ(h.reserved, "EDF+C");
    ASSERT_EQ(h.signals.size(), 2u);
    EXPECT_EQ(h.signals[1].index, 2);
    EXPECT_EQ(h.signals[1].label, "ECG II");
    EXPECT_EQ(h.signals[1].transducerType, "AgAgCl electrode");
    EXPECT_EQ(h.signals[1].physicalDimension, "uV");
    EXPECT_EQ(h.signals[1].prefiltering, "HP:0.1Hz LP:75Hz");
    EXPECT_EQ(h.signals[1].samplesPerRecord, 250);
    EXPECT_FLOAT_EQ(h.signals[1].physicalMaximum, 3276.7f);
}

}  // namespace
