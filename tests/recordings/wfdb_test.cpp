// WFDB reader: format 212 and 16 decoding, header rules, TOLVLoadECGdat codes, byte corruption
// of the header, short signal files, and the PhysioNet records read back against an
// independent decode.
#include "recordings/Wfdb.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "recordings/RecordingTestSupport.h"
#include "tolvan.h"

using rectest::CurrentSamples;
using rectest::InstallMarker;
using rectest::MarkerStillLoaded;
using rectest::ScratchDir;

namespace {

// Packs codes (12-bit two's complement) in format 212.
std::vector<unsigned char> Pack212(const std::vector<int>& codes) {
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i < codes.size(); i += 2) {
        unsigned a = static_cast<unsigned>(codes[i]) & 0xFFF;
        unsigned b = i + 1 < codes.size() ? static_cast<unsigned>(codes[i + 1]) & 0xFFF : 0;
        out.push_back(static_cast<unsigned char>(a & 0xFF));
        out.push_back(static_cast<unsigned char>(((a >> 8) & 0x0F) | ((b >> 4) & 0xF0)));
        if (i + 1 < codes.size()) out.push_back(static_cast<unsigned char>(b & 0xFF));
    }
    return out;
}

std::vector<unsigned char> Pack16(const std::vector<int>& codes) {
    std::vector<unsigned char> out;
    for (int c : codes) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>((c >> 8) & 0xFF));
    }
    return out;
}

TEST(Wfdb, Decode212KnownAnswer) {
    const unsigned char b[] = {0x01, 0x23, 0x45};
    int first = 0, second = 0;
    decode212(b, &first, &second);
    EXPECT_EQ(first, 0x301);
    EXPECT_EQ(second, 0x245);
    const unsigned char c[] = {0x34, 0x12};
    EXPECT_EQ(decode16(c), 0x1234);
}

TEST(Wfdb, SignFoldFollowsTheFormat) {
    ScratchDir dir;
    HeaFile header;
    ASSERT_TRUE(header.AddLine("r 1 360 2"));
    ASSERT_TRUE(header.AddLine("r.dat 212 200 12 0 0 0 0 ECG"));
    ASSERT_TRUE(header.Complete());
    DatFile dat;
    ASSERT_TRUE(dat.OpenFile(dir.Write("r.dat", Pack212({1, 2})).c_str(), header));
    EXPECT_EQ(dat.Read2sCompliment(0xFFF), -1);
    EXPECT_EQ(dat.Read2sCompliment(0x800), -2048);
    EXPECT_EQ(dat.Read2sCompliment(0x7FF), 2047);
    HeaFile header16;
    ASSERT_TRUE(header16.AddLine("r 1 360 2"));
    ASSERT_TRUE(header16.AddLine("r.dat 16 200 16 0 0 0 0 ECG"));
    DatFile dat16;
    ASSERT_TRUE(dat16.OpenFile(dir.Write("r16.dat", Pack16({1, 2})).c_str(), header16));
    EXPECT_EQ(dat16.Read2sCompliment(0xFFFF), -1);
    EXPECT_EQ(dat16.Read2sCompliment(0xFFF), 0xFFF);
}

TEST(HeaFile, CellsAndGetters) {
    HeaFile h;
    ASSERT_TRUE(h.AddLine("# comment first\r\n"));
    ASSERT_TRUE(h.AddLine("100 2 360 650000"));
    ASSERT_TRUE(h.AddLine(""));
    ASSERT_TRUE(h.AddLine("100.dat 212 200(-12)/mV 11 1024 995 -22131 0 MLII"));
    ASSERT_TRUE(h.AddLine("100.dat 212 0 11 1024 1011 20052 0 V5 lead"));
    ASSERT_TRUE(h.Complete());
    EXPECT_EQ(h.LineCount(), 3);
    EXPECT_EQ(h.GetWavformlNum(), 2);
    EXPECT_EQ(h.GetSampleRate(), 360);
    EXPECT_EQ(h.GetSampleNum(), 650000);
    EXPECT_EQ(h.GetFormat(), 212);
    EXPECT_EQ(h.GetADCOffset(), -12);    // parentheses win over ADC zero
    EXPECT_EQ(h.GetADCOffset(2), 1024);  // no parentheses: ADC zero
    EXPECT_EQ(h.GetADCGain(1), 200.0);
    EXPECT_EQ(h.GetADCGain(2), 200.0);  // gain 0 means 200
    EXPECT_STREQ(h.GetSignalName(1), "MLII");
    EXPECT_STREQ(h.GetSignalName(2), "V5");
    EXPECT_EQ(h.Cell(2, 9), "lead");
    EXPECT_EQ(h.Cell(1, 2), "200");
    EXPECT_EQ(h.Cell(25, 0), "");
}

struct HeaderCase {
    const char* name;
    std::string text;
    bool valid;
};

class HeaderRules : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderRules, AcceptOrRefuse) {
    ScratchDir dir;
    HeaFile h;
    EXPECT_EQ(h.OpenFile(dir.Write("r.hea", GetParam().text).c_str()), GetParam().valid);
}

std::string Lines(int signalLines, const std::string& extra = "") {
    std::string s = "r " + std::to_string(signalLines) + " 360 10\n";
    for (int i = 0; i < signalLines; ++i) s += "r.dat 212 200 12 0 0 0 0 s" + extra + "\n";
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderRules,
    ::testing::Values(HeaderCase{"plain", Lines(1), true},
                      HeaderCase{"threeFieldRecordLine", "r 1 360\nr.dat 212 200 12\n", false},
                      HeaderCase{"onlyRecordLine", "r 1 360 10\n", false},
                      HeaderCase{"empty", "", false},
                      HeaderCase{"eighteenSignals", Lines(18), true},
                      HeaderCase{"nineteenSignalLines", Lines(19), false},  // 20 counted lines
                      HeaderCase{"tabsDoNotSeparate", "r\t1\t360\t10\nr.dat 212 200 12\n", false},
                      HeaderCase{"doubleSpaceMakesAField", "r 1  360\nr.dat 212 200 12\n", true},
                      HeaderCase{"descriptionUpTo19Fields", Lines(1, " a b c d e f g h i j"), true},
                      HeaderCase{"descriptionOf20Fields", Lines(1, " a b c d e f g h i j k"),
                                 false},
                      HeaderCase{"signalCountAboveLines",
                                 "r 3 360 10\nr.dat 212 200 12\nr.dat 212 200 12\n", false},
                      HeaderCase{"signalCountZero", "r 0 360 10\nr.dat 212 200 12\n", false},
                      HeaderCase{"signalCountNegative", "r -1 360 10\nr.dat 212 200 12\n", false},
                      HeaderCase{"commentsAndBlankLinesDoNotCount",
                                 "#a\n\n  \nr 1 360 10\n# b\nr.dat 16 200 12\n#c\n", true}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return info.param.name; });

// --- TOLVLoadECGdat ---------------------------------------------------------------------------

struct Record {
    std::string hea;
    std::string dat;
};

Record WriteRecord(ScratchDir& dir, const std::string& header,
                   const std::vector<unsigned char>& data) {
    return {dir.Write("rec.hea", header), dir.Write("rec.dat", data)};
}

TEST(LoadECGdat, TwoSignals212At360HzDividesEachCodeByTheGain) {
    ScratchDir dir;
    const int frames = 650000;
    std::vector<int> codes;
    codes.reserve(2 * frames);
    for (int i = 0; i < frames; ++i) {
        codes.push_back((i % 4096) - 2048);
        codes.push_back(((i * 7) % 4096) - 2048);
    }
    Record r = WriteRecord(dir,
                           "100 2 360 650000\n"
                           "100.dat 212 200(0)/mV 12 0 0 0 0 s0\n"
                           "100.dat 212 200(0)/mV 12 0 0 0 0 s1\n",
                           Pack212(codes));
    ASSERT_EQ(TOLVLoadECGdat(r.hea.c_str(), r.dat.c_str(), 1), frames);
    EcgRecordingPtr rec = CurrentEcgRecording();
    EXPECT_EQ(rec->SampleRate(), 360.0);
    ASSERT_EQ(rec->Count(), frames);
    for (int i = 0; i < frames; i += 997) {
        ASSERT_EQ(rec->MillivoltsAt(i), (((i * 7) % 4096) - 2048) / 200.0) << i;
    }
    EXPECT_EQ(rec->MillivoltsAt(frames - 1), ((((frames - 1) * 7) % 4096) - 2048) / 200.0);
}

TEST(LoadECGdat, GainZeroUsesTwoHundred) {
    ScratchDir dir;
    Record r = WriteRecord(dir, "r 1 100 3\nr.dat 16 0 16 0 0 0 0 x\n", Pack16({200, -400, 1}));
    ASSERT_EQ(TOLVLoadECGdat(r.hea.c_str(), r.dat.c_str(), 0), 3);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{1.0, -2.0, 0.005}));
}

TEST(LoadECGdat, RateBoundsAndSamplesKept) {
    ScratchDir dir;
    Record r100 = WriteRecord(dir, "r 1 100 2\nr.dat 16 100 16 0\n", Pack16({100, 200}));
    EXPECT_EQ(TOLVLoadECGdat(r100.hea.c_str(), r100.dat.c_str(), 0), 2);
    ScratchDir dir2;
    Record r50 = WriteRecord(dir2, "r 1 50 2\nr.dat 16 100 16 0\n", Pack16({100, 300}));
    EXPECT_EQ(TOLVLoadECGdat(r50.hea.c_str(), r50.dat.c_str(), 0), -5);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{1.0, 3.0}));  // kept at 50 Hz
    EXPECT_EQ(CurrentEcgRecording()->SampleRate(), 50.0);
    ScratchDir dir3;
    Record r0 = WriteRecord(dir3, "r 1 0 2\nr.dat 16 100 16 0\n", Pack16({100, 300}));
    EXPECT_EQ(TOLVLoadECGdat(r0.hea.c_str(), r0.dat.c_str(), 0), -5);
    EXPECT_EQ(CurrentEcgRecording()->Count(), 0);  // a 0 Hz recording cannot be played
    ScratchDir dir4;
    Record r40001 = WriteRecord(dir4, "r 1 40001 1\nr.dat 16 100 16 0\n", Pack16({100}));
    EXPECT_EQ(TOLVLoadECGdat(r40001.hea.c_str(), r40001.dat.c_str(), 0), -5);
}

TEST(LoadECGdat, CodesForEachFailure) {
    ScratchDir dir;
    std::string dat = dir.Write("r.dat", Pack16({1, 2, 3, 4}));
    auto hea = [&](const std::string& name, const std::string& text) {
        return dir.Write(name, text);
    };
    std::string good = hea("good.hea", "r 2 360 2\nr.dat 16 200 16 0\nr.dat 16 200 16 0\n");
    InstallMarker();
    EXPECT_EQ(TOLVLoadECGdat("/nonexistent.hea", dat.c_str(), 0), -1);
    EXPECT_EQ(TOLVLoadECGdat(nullptr, dat.c_str(), 0), -1);
    EXPECT_EQ(TOLVLoadECGdat(good.c_str(), "/nonexistent.dat", 0), -2);
    EXPECT_EQ(TOLVLoadECGdat(good.c_str(), nullptr, 0), -2);
    EXPECT_EQ(
        TOLVLoadECGdat(hea("f8.hea", "r 1 360 2\nr.dat 8 200 16 0\n").c_str(), dat.c_str(), 0), -2);
    EXPECT_EQ(
        TOLVLoadECGdat(hea("mix.hea", "r 2 360 2\nr.dat 16 200 16 0\nr.dat 212 200 12 0\n").c_str(),
                       dat.c_str(), 0),
        -2);
    EXPECT_EQ(
        TOLVLoadECGdat(hea("two.hea", "r 2 360 2\nr.dat 16 200 16 0\ns.dat 16 200 16 0\n").c_str(),
                       dat.c_str(), 0),
        -2);
    EXPECT_EQ(TOLVLoadECGdat(good.c_str(), dat.c_str(), 2), -3);
    EXPECT_EQ(TOLVLoadECGdat(good.c_str(), dat.c_str(), -1), -3);
    EXPECT_TRUE(MarkerStillLoaded());
    EXPECT_EQ(
        TOLVLoadECGdat(hea("n0.hea", "r 1 360 0\nr.dat 16 200 16 0\n").c_str(), dat.c_str(), 0),
        -4);
    EXPECT_EQ(CurrentEcgRecording()->Count(), 0);
    EXPECT_EQ(TOLVLoadECGdat(good.c_str(), dir.Write("e.dat", "").c_str(), 0), -4);
    EXPECT_EQ(TOLVLoadECGdat(good.c_str(), dat.c_str(), 1), 2);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{0.01, 0.02}));
}

TEST(LoadECGdat, ShortSignalFileGivesOnlyTheFramesPresent) {
    ScratchDir dir;
    // Two signals, format 212, header claims 100 frames; the file holds 3 frames and 2 bytes
    // (one more sample of signal 0, whose frame is incomplete and so not loaded).
    std::vector<unsigned char> data = Pack212({10, 20, 30, 40, 50, 60, 70, 80});
    data.resize(11);
    Record r = WriteRecord(dir, "r 2 360 100\nr.dat 212 10 12 0\nr.dat 212 10 12 0\n", data);
    ASSERT_EQ(TOLVLoadECGdat(r.hea.c_str(), r.dat.c_str(), 0), 3);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{1, 3, 5}));
    ASSERT_EQ(TOLVLoadECGdat(r.hea.c_str(), r.dat.c_str(), 1), 3);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{2, 4, 6}));
}

TEST(LoadECGdat, BaselineIsPerSignalAndAppliedAfterTheSignFold) {
    ScratchDir dir;
    // Format 16 with ADC zero 2048: the extreme code -32768 must stay the most negative value.
    Record r = WriteRecord(dir, "r 2 500 3\nr.dat 16 100 16 2048\nr.dat 16 10(-5) 16 2048\n",
                           Pack16({-32768, 0, 2048, 5, 32767, -5}));
    ASSERT_EQ(TOLVLoadECGdat(r.hea.c_str(), r.dat.c_str(), 0), 3);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{-348.16, 0.0, 307.19}));
    ASSERT_EQ(TOLVLoadECGdat(r.hea.c_str(), r.dat.c_str(), 1), 3);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{0.5, 1.0, 0.0}));
}

TEST(LoadECGdat, ExtremeBaselineDoesNotOverflow) {
    ScratchDir dir;
    Record r = WriteRecord(dir, "r 1 360 2\nr.dat 16 1(-2147483648) 16 0\n", Pack16({-1, 5}));
    ASSERT_EQ(TOLVLoadECGdat(r.hea.c_str(), r.dat.c_str(), 0), 2);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{2147483647.0, 2147483653.0}));
}

TEST(DatFile, ReadChannelValueWindowAndExtremes) {
    ScratchDir dir;
    HeaFile h;
    ASSERT_TRUE(h.AddLine("r 3 360 5"));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(h.AddLine("r.dat 212 1 12 0"));
    std::vector<int> codes;
    for (int f = 0; f < 5; ++f) {
        for (int s = 0; s < 3; ++s) codes.push_back(-(f * 10 + s) - 1);
    }
    DatFile d;
    ASSERT_TRUE(d.OpenFile(dir.Write("r.dat", Pack212(codes)).c_str(), h));
    SampleVector v;
    double maximum = 0, minimum = 0;
    // Frame 1 starts at sample 3, in the middle of a 212 pair.
    ASSERT_EQ(d.ReadChannelValue(0, 1, 10, maximum, minimum, v), 4);
    EXPECT_EQ(v, (SampleVector{-11, -21, -31, -41}));
    EXPECT_EQ(maximum, -11.0);  // an all-negative signal keeps its true maximum
    EXPECT_EQ(minimum, -41.0);
    ASSERT_EQ(d.ReadChannelValue(2, 4, 1, maximum, minimum, v), 1);
    EXPECT_EQ(v, (SampleVector{-43}));
    EXPECT_EQ(d.ReadChannelValue(3, 0, 1, maximum, minimum, v), 0);
    EXPECT_EQ(d.ReadChannelValue(0, 5, 1, maximum, minimum, v), 0);
    EXPECT_EQ(d.ReadChannelValue(0, -1, 1, maximum, minimum, v), 0);
}

// Records of several reads of the reader: every frame of a window decoded right,
// whatever the signal count (odd counts put frames in the middle of a 212 byte group) and the
// first frame.
struct LargeRecordCase {
    const char* name;
    int format;
    int signals;
    int channel;
    int start;
};

class DatFileLarge : public testing::TestWithParam<LargeRecordCase> {};

TEST_P(DatFileLarge, WindowsAcrossReadsDecodeEveryFrame) {
    const LargeRecordCase& c = GetParam();
    constexpr int kFrames = 400000;
    auto code = [](int frame, int signal) { return (frame * 7 + signal * 311) % 4000 - 2000; };
    std::vector<int> codes;
    for (int f = 0; f < kFrames; ++f) {
        for (int s = 0; s < c.signals; ++s) codes.push_back(code(f, s));
    }
    ScratchDir dir;
    HeaFile h;
    ASSERT_TRUE(h.AddLine("r " + std::to_string(c.signals) + " 360 " + std::to_string(kFrames)));
    for (int s = 0; s < c.signals; ++s) {
        ASSERT_TRUE(h.AddLine("r.dat " + std::to_string(c.format) + " 4 12 0"));
    }
    DatFile d;
    const auto bytes = c.format == 212 ? Pack212(codes) : Pack16(codes);
    ASSERT_TRUE(d.OpenFile(dir.Write("r.dat", bytes).c_str(), h));
    SampleVector v;
    double maximum = 0, minimum = 0;
    const int want = kFrames - c.start - 3;
    ASSERT_EQ(d.ReadChannelValue(c.channel, c.start, want, maximum, minimum, v), want);
    for (int i = 0; i < want; ++i) {
        ASSERT_EQ(v[static_cast<std::size_t>(i)], code(c.start + i, c.channel) / 4.0) << i;
    }
    EXPECT_EQ(maximum, 1999 / 4.0);
    EXPECT_EQ(minimum, -2000 / 4.0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DatFileLarge,
                         testing::Values(LargeRecordCase{"f212_3signals_oddStart", 212, 3, 1, 1},
                                         LargeRecordCase{"f212_3signals_lastSignal", 212, 3, 2, 2},
                                         LargeRecordCase{"f212_2signals", 212, 2, 1, 5},
                                         LargeRecordCase{"f212_1signal_oddStart", 212, 1, 0, 3},
                                         LargeRecordCase{"f16_3signals", 16, 3, 2, 7}),
                         [](const testing::TestParamInfo<LargeRecordCase>& info) {
                             return info.param.name;
                         });

// One header byte changed at a time, each with the code it must give.
struct Corruption {
    const char* name;
    std::size_t offset;
    char byte;
    int expected;
};

class WfdbHeaderCorruption : public ::testing::TestWithParam<Corruption> {};

TEST_P(WfdbHeaderCorruption, GivesTheExactCode) {
    const std::string header = "r 2 360 4\nr.dat 212 200 12 0\nr.dat 212 200 12 0\n";
    std::string bad = header;
    ASSERT_LT(GetParam().offset, bad.size());
    bad[GetParam().offset] = GetParam().byte;
    ScratchDir dir;
    std::string dat = dir.Write("r.dat", Pack212({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(TOLVLoadECGdat(dir.Write("r.hea", bad).c_str(), dat.c_str(), 1), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WfdbHeaderCorruption,
    ::testing::Values(Corruption{"intact", 0, 'r', 4}, Corruption{"signalCount3", 2, '3', -1},
                      Corruption{"signalCount1", 2, '1', -3},
                      Corruption{"recordLineSpaceToX", 1, 'x', -1},  // 3 fields
                      Corruption{"rate060", 4, '0', -5}, Corruption{"samplesZero", 8, '0', -4},
                      Corruption{"format213", 18, '3', -2},
                      Corruption{"secondFormat112", 35, '1', -2},
                      Corruption{"commentedSignalLine", 10, '#', -1},
                      Corruption{"fileName", 10, 's', -2}),
    [](const ::testing::TestParamInfo<Corruption>& info) { return info.param.name; });

// --- PhysioNet records ----------------------------------------------------------------------

std::string DataDir() {
    return TOLVAN_SHARED_DATA_DIR;
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// An independent decode: the record read straight from the bytes with the published layout.
struct ReferenceSignal {
    std::vector<double> values;
    int rate = 0;
};

ReferenceSignal DecodeByHand(const std::string& base, int channel) {
    std::ifstream hea(base + ".hea");
    std::string name, line;
    int nsig = 0, rate = 0, frames = 0;
    hea >> name >> nsig >> rate >> frames;
    std::getline(hea, line);
    int format = 0, zero = 0, bits = 0;
    double gain = 0;
    for (int s = 0; s <= channel; ++s) {
        std::getline(hea, line);
        std::istringstream fields(line);
        std::string file, gainText;
        fields >> file >> format >> gainText >> bits >> zero;
        gain = std::atof(gainText.c_str());
        if (gain == 0) gain = 200;
    }
    std::string bytes = rectest::ReadAll(base + ".dat");
    auto u = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    ReferenceSignal ref;
    ref.rate = rate;
    for (int f = 0; f < frames; ++f) {
        long sample = static_cast<long>(f) * nsig + channel;
        int code = 0;
        if (format == 16) {
            code = static_cast<std::int16_t>(u(2 * sample) | (u(2 * sample + 1) << 8));
        } else {
            std::size_t g = static_cast<std::size_t>(sample / 2) * 3;
            int raw = sample % 2 == 0 ? (u(g) | ((u(g + 1) & 0x0F) << 8))
                                      : (u(g + 2) | ((u(g + 1) & 0xF0) << 4));
            code = raw >= 2048 ? raw - 4096 : raw;
        }
        ref.values.push_back((code - zero) / gain);
    }
    return ref;
}

class PhysioNetRecord : public ::testing::TestWithParam<std::pair<const char*, int>> {};

TEST_P(PhysioNetRecord, MatchesAnIndependentDecode) {
    std::string base = DataDir() + "/" + GetParam().first;
    if (!Exists(base + ".hea") || !Exists(base + ".dat")) GTEST_SKIP() << "no data at " << base;
    ReferenceSignal ref = DecodeByHand(base, GetParam().second);
    int n = TOLVLoadECGdat((base + ".hea").c_str(), (base + ".dat").c_str(), GetParam().second);
    ASSERT_EQ(n, static_cast<int>(ref.values.size()));
    std::vector<double> got = CurrentSamples();
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_DOUBLE_EQ(got[i], ref.values[i]) << i;
    EXPECT_EQ(CurrentEcgRecording()->SampleRate(), ref.rate);
}

INSTANTIATE_TEST_SUITE_P(Records, PhysioNetRecord,
                         ::testing::Values(std::make_pair("aami-ec13/aami3a", 0),
                                           std::make_pair("aami-ec13/aami4b_h", 0),
                                           std::make_pair("nstdb/ma", 0),
                                           std::make_pair("nstdb/bw", 1)),
                         [](const auto& info) {
                             std::string s = info.param.first;
                             return s.substr(s.find('/') + 1) + "_" +
                                    std::to_string(info.param.second);
                         });

TEST(PhysioNetRecord, AamiFirstSampleIsTheHeadersInitialValue) {
    std::string base = DataDir() + "/aami-ec13/aami3a";
    if (!Exists(base + ".hea")) GTEST_SKIP() << "no data";
    ASSERT_EQ(TOLVLoadECGdat((base + ".hea").c_str(), (base + ".dat").c_str(), 0), 43081);
    // Header: ADC zero 2048, initial value 2072, gain 130 adu/mV.
    EXPECT_DOUBLE_EQ(CurrentEcgRecording()->MillivoltsAt(0), (2072 - 2048) / 130.0);
    EXPECT_EQ(CurrentEcgRecording()->SampleRate(), 720.0);
}

}  // namespace
