// Firmware and MCU image files: size, mark and version checks with their exact codes, and the
// burns' refusal without a device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tolvan.h"
#include "vdev/TempDir.h"
#include "vdev/VirtualDevice.h"

namespace {

using vdev::Bytes;
using Loader = int (*)(const char*, int*, int*, int*, int*);

constexpr std::size_t kMark = 118772;

struct ImageCase {
    const char* name;
    Loader load;
    std::function<Bytes()> make;  // the file's content; none: no file at all
    int expected;                 // the load's result
};

Bytes Firmware(std::size_t size) {
    return vdev::MakeFirmwareImage({{1, 4, 0, 9}}, size);
}
Bytes Mcu(std::size_t size) {
    return vdev::MakeMcuImage({{3, 0, 1, 2}}, size);
}
Bytes Cut(Bytes image, std::size_t size) {
    image.resize(size);
    return image;
}
Bytes WithByte(Bytes image, std::size_t at, std::uint8_t value) {
    image[at] = value;
    return image;
}

const ImageCase kImageCases[] = {
    {"Firmware130000BytesLoadsAs122880", LoadFirmwareFile, [] { return Firmware(130000); }, 122880},
    {"FirmwareOfExactly122880Bytes", LoadFirmwareFile, [] { return Firmware(122880); }, 122880},
    {"FirmwareOneByteShort", LoadFirmwareFile, [] { return Cut(Firmware(122880), 122879); }, -6},
    {"FirmwareWrongMark", LoadFirmwareFile, [] { return WithByte(Firmware(122880), kMark, 't'); },
     -6},
    {"FirmwareWithTheMcuMark", LoadFirmwareFile, [] { return Mcu(122880); }, -6},
    {"FirmwareMissing", LoadFirmwareFile, nullptr, -2},
    {"McuShortestImage", LoadMcuFile, [] { return Mcu(118780); }, 118780},
    {"McuLongerImageKeepsItsSize", LoadMcuFile, [] { return Mcu(131072); }, 131072},
    {"McuOneByteShort", LoadMcuFile, [] { return Cut(Mcu(118780), 118779); }, -6},
    {"McuMarkByte0", LoadMcuFile, [] { return WithByte(Mcu(118780), kMark, 0x33); }, -6},
    {"McuMarkByte1", LoadMcuFile, [] { return WithByte(Mcu(118780), kMark + 1, 0x55); }, -6},
    {"McuMarkByte2", LoadMcuFile, [] { return WithByte(Mcu(118780), kMark + 2, 0x47); }, -6},
    {"McuMarkByte3", LoadMcuFile, [] { return WithByte(Mcu(118780), kMark + 3, 0x31); }, -6},
    {"McuWithTheFirmwareMark", LoadMcuFile, [] { return Firmware(122880); }, -6},
    {"McuMissing", LoadMcuFile, nullptr, -2},
};

class ImageFileTest : public ::testing::TestWithParam<ImageCase> {
  protected:
    vdev::TempDir m_dir;
};

TEST_P(ImageFileTest, LoadGivesItsCodeAndTheVersionOnlyOnSuccess) {
    const ImageCase& c = GetParam();
    const std::string path = m_dir.Join("image.bin");
    Bytes content;
    if (c.make) {
        content = c.make();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()),
                   static_cast<std::streamsize>(content.size()));
    }
    std::array<int, 4> version{{-1, -1, -1, -1}};
    EXPECT_EQ(c.load(path.c_str(), &version[0], &version[1], &version[2], &version[3]), c.expected);
    const std::array<int, 4> untouched{{-1, -1, -1, -1}};
    if (c.expected < 0) {
        EXPECT_EQ(version, untouched);
    } else {
        const std::array<int, 4> stored{
            {content[kMark + 4], content[kMark + 5], content[kMark + 6], content[kMark + 7]}};
        EXPECT_EQ(version, stored);
    }
}

INSTANTIATE_TEST_SUITE_P(Images, ImageFileTest, ::testing::ValuesIn(kImageCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImageFile, NullPathIsMissingAndNullVersionPointersAreSkipped) {
    EXPECT_EQ(LoadFirmwareFile(nullptr, nullptr, nullptr, nullptr, nullptr), -2);
    EXPECT_EQ(LoadMcuFile(nullptr, nullptr, nullptr, nullptr, nullptr), -2);
    vdev::TempDir dir;
    const std::string path = dir.Join("fw.bin");
    const Bytes image = Firmware(122880);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    int third = 0;
    EXPECT_EQ(LoadFirmwareFile(path.c_str(), nullptr, nullptr, &third, nullptr), 122880);
    EXPECT_EQ(third, 0);
}

TEST(ImageFile, McuImageBeyondTheLoadersAddressesIsRefusedUnread) {
    vdev::TempDir dir;
    const std::string path = dir.Join("huge.bin");
    const Bytes image = Mcu(118780);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    ASSERT_EQ(truncate(path.c_str(), (1 << 24) + 1), 0);  // sparse: nothing more is written
    EXPECT_EQ(LoadMcuFile(path.c_str(), nullptr, nullptr, nullptr, nullptr), -6);
    ASSERT_EQ(truncate(path.c_str(), 1 << 24), 0);
    EXPECT_EQ(LoadMcuFile(path.c_str(), nullptr, nullptr, nullptr, nullptr), 1 << 24);
}

// ---- Burning without a device ---------------------------------------------------------------

std::vector<std::pair<int, int>> g_reports;
int Record(int stage, int value) {
    g_reports.emplace_back(stage, value);
    return 0;
}

TEST(BurnWithoutDevice, FirmwareReturnsMinus3SilentlyAndMcuReportsIt) {
    vdev::TempDir dir;
    const std::string path = dir.Join("mcu.bin");
    const Bytes image = Mcu(118780);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    ASSERT_EQ(LoadMcuFile(path.c_str(), nullptr, nullptr, nullptr, nullptr), 118780);

    g_reports.clear();
    EXPECT_EQ(BurnFirmware(Record), -3);
    EXPECT_TRUE(g_reports.empty());
    EXPECT_EQ(BurnMcu(Record), -3);
    EXPECT_EQ(g_reports, (std::vector<std::pair<int, int>>{{6, -3}}));
    EXPECT_EQ(BurnMcu(nullptr), -3);
}

}  // namespace
