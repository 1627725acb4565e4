// TOLVLoadECGedfEx against files written by EDFlib (an EDF+ file, and its plain-EDF twin with
// free-text fields and without the annotation signal, as older writers make them; a record of
// two seconds with a rate of 128.5 Hz) and an EDF+D file with a gap written here byte by byte;
// the same files against biosig's decode when biosig is installed.
#include <edflib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "recordings/RecordingTestSupport.h"
#include "tolvan.h"

using rectest::ScratchDir;

namespace {

std::vector<double> Loaded() {
    int count = 0, rate = 0;
    const double* data = GetFileArray(&count, &rate);
    return data == nullptr ? std::vector<double>{} : std::vector<double>(data, data + count);
}

int LoadedRate() {
    int count = 0, rate = 0;
    GetFileArray(&count, &rate);
    return rate;
}

// One ECG signal (mV) of `records` records of `duration` seconds with `spr` samples each.
bool WriteEdflib(const std::string& path, int type, int spr, int records, int duration10us) {
    const int h = edfopen_file_writeonly(path.c_str(), type, 1);
    if (h < 0) return false;
    bool ok = edf_set_datarecord_duration(h, duration10us) == 0 &&
              edf_set_samplefrequency(h, 0, spr) == 0 && edf_set_physical_maximum(h, 0, 5.0) == 0 &&
              edf_set_physical_minimum(h, 0, -5.0) == 0 &&
              edf_set_digital_maximum(h, 0, 32767) == 0 &&
              edf_set_digital_minimum(h, 0, -32768) == 0 && edf_set_label(h, 0, "ECG") == 0 &&
              edf_set_physical_dimension(h, 0, "mV") == 0 &&
              edf_set_patientname(h, "Jane Doe, ward 3") == 0;
    for (int r = 0; ok && r < records; ++r) {
        std::vector<double> buf(static_cast<std::size_t>(spr));
        for (int i = 0; i < spr; ++i)
            buf[static_cast<std::size_t>(i)] = 2.0 * std::sin(0.01 * (r * spr + i));
        ok = edfwrite_physical_samples(h, buf.data()) == 0;
    }
    return edfclose_file(h) == 0 && ok;
}

std::string Field(const std::string& text, std::size_t width) {
    std::string s = text.substr(0, width);
    s.resize(width, ' ');
    return s;
}

// The plain-EDF twin of an EDF+ file whose last signal is the annotation signal: free text in
// the identification fields, the reserved field empty, the annotation signal dropped.
void WritePlainTwin(const std::string& plus, const std::string& plain) {
    std::ifstream in(plus, std::ios::binary);
    const std::string f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int ns = std::stoi(f.substr(252, 4));
    const int records = std::stoi(f.substr(236, 8));
    std::string h = f.substr(0, 8) + Field("Jane Doe, ward 3, born 1961", 80) +
                    Field("Holter 2020, lead II", 80) + f.substr(168, 16) +
                    Field(std::to_string(256 * ns), 8) + Field("", 44) + f.substr(236, 16) +
                    Field(std::to_string(ns - 1), 4);
    const int widths[] = {16, 80, 8, 8, 8, 8, 8, 80, 8, 32};
    std::size_t at = 256;
    std::vector<int> spr;
    for (int k = 0; k < 10; ++k) {
        const int w = widths[k];
        for (int s = 0; s < ns; ++s) {
            const std::string cell =
                f.substr(at + static_cast<std::size_t>(w * s), static_cast<std::size_t>(w));
            if (k == 8) spr.push_back(std::stoi(cell));  // samples per record
            if (s < ns - 1) h += cell;
        }
        at += static_cast<std::size_t>(w * ns);
    }
    if (spr.empty()) return;
    std::size_t record = 0;
    for (int n : spr) record += 2 * static_cast<std::size_t>(n);
    const std::size_t kept = record - 2 * static_cast<std::size_t>(spr.back());
    for (int r = 0; r < records; ++r) h += f.substr(at + r * record, kept);
    std::ofstream(plain, std::ios::binary) << h;
}

// EDF+D: one 200-sample ECG record per entry of onsets (s), digital = physical in µV.
void WriteEdfPlusD(const std::string& path, const std::vector<double>& onsets) {
    const int tal = 20;  // annotation samples per record (40 bytes)
    std::string h = Field("0", 8) + Field("X X X X", 80) +
                    Field("Startdate 01-JAN-2020 X X X", 80) + Field("01.01.20", 8) +
                    Field("00.00.00", 8) + Field("768", 8) + Field("EDF+D", 44) +
                    Field(std::to_string(onsets.size()), 8) + Field("1", 8) + Field("2", 4);
    h += Field("ECG", 16) + Field("EDF Annotations", 16) + Field("", 160) + Field("uV", 8) +
         Field("", 8) + Field("-32768", 8) + Field("-1", 8) + Field("32767", 8) + Field("1", 8) +
         Field("-32768", 8) + Field("-32768", 8) + Field("32767", 8) + Field("32767", 8) +
         Field("", 160) + Field("200", 8) + Field(std::to_string(tal), 8) + Field("", 64);
    for (std::size_t r = 0; r < onsets.size(); ++r) {
        for (int i = 0; i < 200; ++i) {
            const int v = 100 * static_cast<int>(r + 1) + i;
            h += static_cast<char>(v & 0xff);
            h += static_cast<char>((v >> 8) & 0xff);
        }
        char text[32];
        std::snprintf(text, sizeof text, "+%g", onsets[r]);
        std::string a = std::string(text) + "\x14\x14";
        a.resize(2 * tal, '\0');
        h += a;
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(h.data(), 1, h.size(), f);
    std::fclose(f);
}

// biosig's decode of one channel (tests/support/biosig_dump): its rate and samples in the file's
// physical unit; `read` false when biosig refuses the file or is not installed.
struct PeerSignal {
    bool read = false;
    double rate = 0.0;
    std::vector<double> values;
};

PeerSignal Biosig(const std::string& path, int channel) {
    PeerSignal out;
#if defined(TOLVAN_BIOSIG_DUMP)
    const std::string command =
        std::string("'") + TOLVAN_BIOSIG_DUMP + "' '" + path + "' " + std::to_string(channel);
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    double v = 0.0;
    if (std::fscanf(pipe, "%lf", &out.rate) == 1)
        while (std::fscanf(pipe, "%lf", &v) == 1) out.values.push_back(v);
    out.read = pclose(pipe) == 0 && out.rate > 0.0;
#else
    (void)path;
    (void)channel;
#endif
    return out;
}

#if defined(TOLVAN_BIOSIG_DUMP)
#define SKIP_WITHOUT_BIOSIG()
#else
#define SKIP_WITHOUT_BIOSIG() GTEST_SKIP() << "biosig not found when configured (libbiosig-dev)"
#endif

// Each sample within half an ADC step (`step`, mV) of biosig's, read in `unit` mV.
void ExpectNear(const std::vector<double>& ours, const PeerSignal& theirs, double unit,
                double step) {
    ASSERT_EQ(ours.size(), theirs.values.size());
    for (std::size_t i = 0; i < ours.size(); ++i)
        ASSERT_NEAR(ours[i], theirs.values[i] * unit, step / 2) << i;
}

// A plain EDF with free-text fields, an EDF+D file with a gap and a rate of 128.5 Hz, as biosig
// reads them. biosig plays an EDF+D file's records one after the other, as we do without
// TOLV_EDF_GAPS; with it, our records stand at their onsets with 0 mV between them.
TEST(EdfEx, BiosigDecodesTheVariantsAsWeDo) {
    SKIP_WITHOUT_BIOSIG();
    ScratchDir dir;
    const std::string plain = dir.Join("plain.edf"), plus = dir.Join("plus.edf");
    ASSERT_TRUE(WriteEdflib(plus, EDFLIB_FILETYPE_EDFPLUS, 250, 4, 100000));
    WritePlainTwin(plus, plain);
    PeerSignal peer = Biosig(plain, 0);
    ASSERT_TRUE(peer.read);
    EXPECT_EQ(peer.rate, 250.0);
    ASSERT_EQ(TOLVLoadECGedfEx(plain.c_str(), 0, TOLV_EDF_FREE_TEXT), 1000);
    ExpectNear(Loaded(), peer, 1.0, 10.0 / 65535);

    const std::string gaps = dir.Join("d.edf");
    WriteEdfPlusD(gaps, {0.0, 1.0, 3.5});  // a gap of 1.5 s (300 samples) after 400 samples
    peer = Biosig(gaps, 0);
    ASSERT_TRUE(peer.read);
    EXPECT_EQ(peer.rate, 200.0);
    ASSERT_EQ(TOLVLoadECGedfEx(gaps.c_str(), 0, 0), 600);
    ExpectNear(Loaded(), peer, 0.001, 0.001);  // the file is in µV
    ASSERT_EQ(TOLVLoadECGedfEx(gaps.c_str(), 0, TOLV_EDF_GAPS), 900);
    std::vector<double> played = Loaded();
    played.erase(played.begin() + 400, played.begin() + 700);
    ExpectNear(played, peer, 0.001, 0.001);

    const std::string odd = dir.Join("r.edf");
    ASSERT_TRUE(WriteEdflib(odd, EDFLIB_FILETYPE_EDFPLUS, 257, 5, 200000));  // 128.5 Hz
    peer = Biosig(odd, 0);
    ASSERT_TRUE(peer.read);
    ASSERT_EQ(peer.rate, 128.5);
    const int n = TOLVLoadECGedfEx(odd.c_str(), 0, TOLV_EDF_RESAMPLE);
    ASSERT_GT(n, 0);
    // Our sample i lies at i / 129 s: biosig's samples interpolated there.
    const std::vector<double> v = Loaded();
    for (int i = 0; i < n; ++i) {
        const double x = i * 128.5 / LoadedRate();
        const std::size_t k = std::min(static_cast<std::size_t>(x), peer.values.size() - 2);
        const double want = peer.values[k] + (x - k) * (peer.values[k + 1] - peer.values[k]);
        ASSERT_NEAR(v[static_cast<std::size_t>(i)], want, 10.0 / 65535 / 2) << i;
    }
}

TEST(EdfEx, PlainEdfWithFreeTextLoadsLikeItsEdfPlusTwin) {
    ScratchDir dir;
    const std::string plain = dir.Join("plain.edf"), plus = dir.Join("plus.edf");
    ASSERT_TRUE(WriteEdflib(plus, EDFLIB_FILETYPE_EDFPLUS, 250, 4, 100000));
    WritePlainTwin(plus, plain);
    EXPECT_EQ(TOLVLoadECGedf(plain.c_str(), 0), -2);  // the identification rules stand
    EXPECT_EQ(TOLVLoadECGedfEx(plain.c_str(), 0, 0), -2);
    ASSERT_EQ(TOLVLoadECGedf(plus.c_str(), 0), 1000);
    const std::vector<double> twin = Loaded();
    ASSERT_EQ(TOLVLoadECGedfEx(plain.c_str(), 0, TOLV_EDF_FREE_TEXT), 1000);
    EXPECT_EQ(Loaded(), twin);
    EXPECT_EQ(LoadedRate(), 250);
}

TEST(EdfEx, EdfPlusDPlaysItsGapsOnlyWhenAsked) {
    ScratchDir dir;
    const std::string path = dir.Join("d.edf");
    WriteEdfPlusD(path, {0.0, 1.0, 3.5});  // a gap of 1.5 s after the second record
    ASSERT_EQ(TOLVLoadECGedf(path.c_str(), 0), 600);
    const std::vector<double> contiguous = Loaded();
    ASSERT_EQ(TOLVLoadECGedfEx(path.c_str(), 0, 0), 600);
    EXPECT_EQ(Loaded(), contiguous);
    ASSERT_EQ(TOLVLoadECGedfEx(path.c_str(), 0, TOLV_EDF_GAPS), 900);
    const std::vector<double> gaps = Loaded();
    for (int i = 0; i < 400; ++i)
        EXPECT_EQ(gaps[static_cast<std::size_t>(i)], contiguous[static_cast<std::size_t>(i)]);
    for (int i = 400; i < 700; ++i) EXPECT_EQ(gaps[static_cast<std::size_t>(i)], 0.0) << i;
    for (int i = 700; i < 900; ++i)
        EXPECT_EQ(gaps[static_cast<std::size_t>(i)], contiguous[static_cast<std::size_t>(i - 300)]);
    EXPECT_EQ(TOLVLoadECGedfEx(path.c_str(), 1, TOLV_EDF_GAPS), -3);  // the annotation signal
    EXPECT_EQ(TOLVLoadECGedfEx(path.c_str(), 0, 8), -6);
}

TEST(EdfEx, ANonIntegerRateIsResampledOnlyWhenAsked) {
    ScratchDir dir;
    const std::string path = dir.Join("r.edf");
    ASSERT_TRUE(WriteEdflib(path, EDFLIB_FILETYPE_EDFPLUS, 257, 5, 200000));  // 128.5 Hz, 10 s
    EXPECT_EQ(TOLVLoadECGedfEx(path.c_str(), 0, 0), -5);
    const int n = TOLVLoadECGedfEx(path.c_str(), 0, TOLV_EDF_RESAMPLE);
    ASSERT_GT(n, 0);
    EXPECT_EQ(LoadedRate(), 129);
    EXPECT_EQ(n, static_cast<int>(std::floor(1284.0 / 128.5 * 129)) + 1);
    const std::vector<double> v = Loaded();
    for (int i = 0; i < n; i += 97) {
        // sample k of the source is at k / 128.5 s and holds 2 sin(0.01 k)
        const double t = static_cast<double>(i) / 129;
        EXPECT_NEAR(v[static_cast<std::size_t>(i)], 2.0 * std::sin(0.01 * 128.5 * t), 2e-3) << i;
    }
}

}  // namespace
