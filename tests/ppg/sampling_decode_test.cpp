// Decoding of the photodiode sampling reports and the converter's input mask: pure parts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "ppg/PdSampling.h"

namespace {

using Sample = std::tuple<int, int, int>;  // input, value, status

std::vector<Sample> Decode(const std::vector<std::uint8_t>& report) {
    std::vector<Sample> out;
    ForEachPDSample(report.data(), report.size(), [&](int input, int value, int status) {
        out.emplace_back(input, value, status);
    });
    return out;
}

struct DecodeCase {
    std::string name;
    std::vector<std::uint8_t> report;
    std::vector<Sample> expected;
};

// Header AD FF 00 00 mask 00 00 00, then frames.
std::vector<std::uint8_t> Report(std::uint8_t mask, std::vector<std::uint8_t> frames) {
    std::vector<std::uint8_t> r = {0xAD, 0xFF, 0x00, 0x00, mask, 0x00, 0x00, 0x00};
    for (std::uint8_t b : frames) r.push_back(b);
    return r;
}

class SamplingReport : public testing::TestWithParam<DecodeCase> {};

TEST_P(SamplingReport, DeliversWholeFramesInInputOrder) {
    EXPECT_EQ(Decode(GetParam().report), GetParam().expected);
}

// Frames of mask 5 are 5 bytes: 19 bytes hold frames at 8 and 13 (status at 17); at 17 bytes
// the second frame is cut off at the end of the read and not delivered.
const std::vector<std::uint8_t> kTwoFrames5 = {0x01, 0x02, 0x0A, 0x0B, 0x07,
                                               0xFF, 0xFE, 0x00, 0x10, 0x08};

INSTANTIATE_TEST_SUITE_P(
    Masks, SamplingReport,
    testing::Values(DecodeCase{"mask1",
                               Report(0x01, {0x12, 0x34, 0x05, 0x00, 0x01, 0x06}),
                               {{0, 0x1234, 5}, {0, 0x0001, 6}}},
                    DecodeCase{"mask5_19bytes",
                               Report(0x05, kTwoFrames5),
                               {{0, 0x0102, 7}, {2, 0x0A0B, 7}, {0, 0xFFFE, 8}, {2, 0x0010, 8}}},
                    DecodeCase{"mask5_17bytes_frameCutAtTheEnd",
                               Report(0x05, {kTwoFrames5.begin(), kTwoFrames5.begin() + 9}),
                               {{0, 0x0102, 7}, {2, 0x0A0B, 7}}},
                    DecodeCase{"mask5_statusMissing",
                               Report(0x05, {kTwoFrames5.begin(), kTwoFrames5.begin() + 4}),
                               {}},
                    DecodeCase{"mask15",
                               Report(0x0F, {0, 1, 0, 2, 0, 3, 0x80, 0x04, 0x09}),
                               {{0, 1, 9}, {1, 2, 9}, {2, 3, 9}, {3, 0x8004, 9}}},
                    DecodeCase{
                        "highBitsOfTheMaskIgnored", Report(0xF2, {0x00, 0x2A, 0x01}), {{1, 42, 1}}},
                    DecodeCase{"mask0", Report(0x00, {1, 2, 3, 4, 5}), {}}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return info.param.name; });

struct MaskCase {
    std::vector<int> inputs;
    int mask;
};

TEST(PDSamplingInputMask, OneBitPerInputAndAllFourFromThree) {
    const MaskCase cases[] = {{{}, 0},      {{0}, 1},        {{1}, 2},        {{0, 2}, 5},
                              {{3, 1}, 10}, {{0, 1, 3}, 15}, {{0, 1, 2}, 15}, {{0, 1, 2, 3}, 15}};
    for (const MaskCase& c : cases) {
        bool subscribed[kPDSamplingInputs] = {};
        for (int input : c.inputs) subscribed[input] = true;
        EXPECT_EQ(PDSamplingInputMask(subscribed), c.mask) << testing::PrintToString(c.inputs);
    }
}

}  // namespace
