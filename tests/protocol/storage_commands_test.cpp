#include <gtest/gtest.h>

#include "ByteFrames.h"
#include "protocol/commands/StorageCommands.h"

namespace {

template <typename Request>
Bytes Built(const std::optional<Request>& request) {
    return request ? ToBytes(*request) : Bytes{};
}

const std::uint8_t kThreeBytes[] = {0x01, 0x02, 0x03};
const std::uint16_t kTwoWords[] = {0x1234, 0xABCD};

const std::vector<BuilderCase> kStorageBuilders = {
    {"ReadModelInfo", Built(BuildStorageRead(StorageChannel::kModelInfo, 0, 12)),
     Frame(64, {{0, "12 55 AA 00 00 01 00 0C 00 00 00 00"}})},
    {"ReadFactorySetting", Built(BuildStorageRead(StorageChannel::kModule, 5120, 32)),
     Frame(64, {{0, "12 55 AA 00 00 13 00 20 00 00 14 00"}})},
    {"ReadWords", Built(BuildStorageReadWords(StorageChannel::kDcCalibration, 0x20, 16)),
     Frame(64, {{0, "12 55 AA 00 00 12 00 20 00 00 00 20"}})},
    {"WriteBytes", Built(BuildStorageWrite(StorageChannel::kFirmware, 115712, kThreeBytes, 3)),
     Frame(64, {{0, "12 55 AA FF 00 03 00 03 00 01 C4 00"}, {16, "01 02 03"}})},
    {"WriteWordsBigEndian",
     Built(BuildStorageWriteWords(StorageChannel::kDcCalibration, 32, kTwoWords, 2)),
     Frame(64, {{0, "12 55 AA FF 00 12 00 04 00 00 00 20"}, {16, "12 34 AB CD"}})},
    {"EraseSector", ToBytes(BuildStorageErase(StorageChannel::kDcCalibration, 1024)),
     Frame(64, {{0, "12 55 AA FF 00 12 01 00 00 00 04 00"}})},
    {"EraseOldCalibration", ToBytes(BuildStorageErase(StorageChannel::kFirmware, 102400)),
     Frame(64, {{0, "12 55 AA FF 00 03 01 00 00 01 90 00"}})},
};
INSTANTIATE_BUILDER_TABLE(Storage, kStorageBuilders);

TEST(StorageBuilders, RefuseDataThatDoesNotFitTheFrame) {
    const std::uint8_t data[49] = {};
    const std::uint16_t words[25] = {};
    EXPECT_TRUE(BuildStorageRead(StorageChannel::kModule, 0, 48).has_value());
    EXPECT_FALSE(BuildStorageRead(StorageChannel::kModule, 0, 49).has_value());
    EXPECT_TRUE(BuildStorageWrite(StorageChannel::kModule, 0, data, 48).has_value());
    EXPECT_FALSE(BuildStorageWrite(StorageChannel::kModule, 0, data, 49).has_value());
    EXPECT_FALSE(BuildStorageWrite(StorageChannel::kModule, 0, nullptr, 1).has_value());
    EXPECT_FALSE(BuildStorageReadWords(StorageChannel::kModule, 0, 25).has_value());
    EXPECT_FALSE(BuildStorageWriteWords(StorageChannel::kModule, 0, words, 25).has_value());
}

TEST(ByteRecordChunks, A33ByteRecordIs32Then1BytesAtAAndAPlus32) {
    const std::uint32_t a = 0x100;
    ASSERT_EQ(StorageChunkCount(33, kStorageRecordChunkBytes), 2u);
    const StorageChunk first = ByteRecordChunk(a, 33, 0);
    const StorageChunk second = ByteRecordChunk(a, 33, 1);
    EXPECT_EQ(first.address, a);
    EXPECT_EQ(first.first, 0u);
    EXPECT_EQ(first.elements, 32u);
    EXPECT_EQ(first.countByte, 32);
    EXPECT_EQ(second.address, a + 32);
    EXPECT_EQ(second.first, 32u);
    EXPECT_EQ(second.elements, 1u);
    EXPECT_EQ(second.countByte, 1);

    // The requests of the two chunks carry those counts and addresses.
    std::uint8_t record[33];
    for (int i = 0; i < 33; ++i) record[i] = static_cast<std::uint8_t>(i + 1);
    const Bytes w1 = Built(BuildStorageWrite(StorageChannel::kModule, first.address,
                                             record + first.first, first.elements));
    const Bytes w2 = Built(BuildStorageWrite(StorageChannel::kModule, second.address,
                                             record + second.first, second.elements));
    ASSERT_EQ(w1.size(), 64u);
    ASSERT_EQ(w2.size(), 64u);
    EXPECT_EQ(ToHex(Bytes(w1.begin() + 7, w1.begin() + 12)), "20 00 00 01 00");
    EXPECT_EQ(w1[16], 1);
    EXPECT_EQ(w1[47], 32);
    EXPECT_EQ(w1[48], 0);
    EXPECT_EQ(ToHex(Bytes(w2.begin() + 7, w2.begin() + 12)), "01 00 00 01 20");
    EXPECT_EQ(w2[16], 33);
    EXPECT_EQ(w2[17], 0);
}

TEST(WordTableChunks, SeventeenWordsAre16Then1WithCountBytes32And2) {
    const std::uint32_t a = 0x200;
    ASSERT_EQ(StorageChunkCount(17, kStorageTableChunkWords), 2u);
    const StorageChunk first = WordTableChunk(a, 17, 0);
    const StorageChunk second = WordTableChunk(a, 17, 1);
    EXPECT_EQ(first.address, a);
    EXPECT_EQ(first.elements, 16u);
    EXPECT_EQ(first.countByte, 32);
    EXPECT_EQ(second.address, a + 32);
    EXPECT_EQ(second.first, 16u);
    EXPECT_EQ(second.elements, 1u);
    EXPECT_EQ(second.countByte, 2);
    const Bytes request = Built(
        BuildStorageReadWords(StorageChannel::kDcCalibration, second.address, second.elements));
    ASSERT_EQ(request.size(), 64u);
    EXPECT_EQ(ToHex(Bytes(request.begin() + 7, request.begin() + 12)), "02 00 00 02 20");
}

struct ChunkPlanCase {
    const char* name;
    std::size_t total;
    std::size_t perChunk;
    std::size_t chunks;
};

class ChunkPlan : public ::testing::TestWithParam<ChunkPlanCase> {};

TEST_P(ChunkPlan, CoversTheTransferWithoutGapsOrOverlap) {
    const ChunkPlanCase& c = GetParam();
    ASSERT_EQ(StorageChunkCount(c.total, c.perChunk), c.chunks);
    std::size_t next = 0;
    for (std::size_t i = 0; i < c.chunks; ++i) {
        StorageChunk chunk;
        if (c.perChunk == kStorageTableChunkWords) {
            chunk = WordTableChunk(1000, c.total, i);
            EXPECT_EQ(chunk.address, 1000 + 2 * chunk.first);
            EXPECT_EQ(chunk.countByte, 2 * chunk.elements);
        } else if (c.perChunk == kStorageFirmwareChunkBytes) {
            chunk = FirmwareChunk(1000, c.total, i);
            EXPECT_EQ(chunk.address, 1000 + chunk.first);
        } else {
            chunk = ByteRecordChunk(1000, c.total, i);
            EXPECT_EQ(chunk.address, 1000 + chunk.first);
        }
        EXPECT_EQ(chunk.first, next);
        EXPECT_GT(chunk.elements, 0u);
        EXPECT_LE(chunk.elements, c.perChunk);
        next += chunk.elements;
    }
    EXPECT_EQ(next, c.total);
}

INSTANTIATE_TEST_SUITE_P(Transfers, ChunkPlan,
                         ::testing::Values(ChunkPlanCase{"EmptyRecord", 0, 32, 0},
                                           ChunkPlanCase{"ModelInfo", 12, 32, 1},
                                           ChunkPlanCase{"ExactlyOneChunk", 32, 32, 1},
                                           ChunkPlanCase{"FactorySetting", 64, 32, 2},
                                           ChunkPlanCase{"ResistanceTable", 768, 32, 24},
                                           ChunkPlanCase{"DcCalibrationTable", 4001, 16, 251},
                                           ChunkPlanCase{"FirmwareFirstPart", 102400, 48, 2134},
                                           ChunkPlanCase{"FirmwareSecondPart", 6144, 48, 128}),
                         [](const ::testing::TestParamInfo<ChunkPlanCase>& info) {
                             return info.param.name;
                         });

TEST(ChunkPlan, ChunksPastTheEndAreEmpty) {
    const StorageChunk past = ByteRecordChunk(0, 33, 2);
    EXPECT_EQ(past.elements, 0u);
    EXPECT_EQ(past.countByte, 0);
    EXPECT_EQ(StorageChunkCount(10, 0), 0u);
}

TEST(ChunkPlan, DcCalibrationTableEndsWithOneWordAtAddress8000) {
    const StorageChunk last = WordTableChunk(kDcCalibrationAddress, kDcCalibrationWords, 250);
    EXPECT_EQ(last.first, 4000u);
    EXPECT_EQ(last.address, 8000u);
    EXPECT_EQ(last.elements, 1u);
    EXPECT_EQ(last.countByte, 2);
}

TEST(SectorErase, ClearsEvery1024thAddressOfTheRegion) {
    EXPECT_EQ(SectorCount(kOldDcCalibrationRegionSectors * kFlashSectorBytes), 14u);
    EXPECT_EQ(SectorEraseAddress(kOldDcCalibrationRegionAddress, 0), 102400u);
    EXPECT_EQ(SectorEraseAddress(kOldDcCalibrationRegionAddress, 13), 115712u);
    // The old region ends where the second firmware part begins.
    EXPECT_EQ(SectorEraseAddress(kOldDcCalibrationRegionAddress, 14), kFirmwareSecondPartAddress);
    EXPECT_EQ(SectorCount(1025), 2u);
    EXPECT_EQ(SectorCount(0), 0u);
}

TEST(ParseStorageReadReply, CopiesTheDataOfAnAcknowledgedReply) {
    const Bytes reply = Reply({{0, "12 55 AA 00 FF 13 00 03"}, {16, "0A 0B 0C 0D"}});
    std::uint8_t out[3] = {};
    ASSERT_EQ(ParseStorageReadReply(reply.data(), reply.size(), out, 3), ReplyStatus::kOk);
    EXPECT_EQ(out[0], 0x0A);
    EXPECT_EQ(out[1], 0x0B);
    EXPECT_EQ(out[2], 0x0C);
}

TEST(ParseStorageReadReply, LeavesTheDestinationOnShortUnacknowledgedOrOversizedReads) {
    const Bytes good = Reply({{4, "FF"}, {16, "0A"}});
    const Bytes notAcknowledged = Reply({{3, "FF"}, {16, "0A"}});  // FF in the wrong byte
    std::uint8_t out[64] = {0x55};
    EXPECT_EQ(ParseStorageReadReply(good.data(), 63, out, 1), ReplyStatus::kShort);
    EXPECT_EQ(ParseStorageReadReply(notAcknowledged.data(), 64, out, 1),
              ReplyStatus::kNotAcknowledged);
    EXPECT_EQ(ParseStorageReadReply(good.data(), 64, out, 49), ReplyStatus::kInvalid);
    EXPECT_EQ(ParseStorageReadReply(nullptr, 0, out, 1), ReplyStatus::kShort);
    EXPECT_EQ(out[0], 0x55);
}

TEST(ParseStorageReadWordsReply, DecodesBigEndianWords) {
    const Bytes reply = Reply({{4, "FF"}, {16, "12 34 AB CD FF FF"}});
    std::uint16_t words[3] = {};
    ASSERT_EQ(ParseStorageReadWordsReply(reply.data(), 64, words, 3), ReplyStatus::kOk);
    EXPECT_EQ(words[0], 0x1234);
    EXPECT_EQ(words[1], 0xABCD);
    EXPECT_EQ(words[2], 0xFFFF);
    EXPECT_EQ(ParseStorageReadWordsReply(reply.data(), 64, words, 25), ReplyStatus::kInvalid);
}

TEST(StorageReplies, WriteIsAcknowledgedByByte4EraseOnlyNeedsTheWholeReply) {
    const Bytes acknowledged = Reply({{4, "FF"}});
    const Bytes silent = Reply({});
    EXPECT_EQ(CheckStorageWriteReply(acknowledged.data(), 64), ReplyStatus::kOk);
    EXPECT_EQ(CheckStorageWriteReply(silent.data(), 64), ReplyStatus::kNotAcknowledged);
    EXPECT_EQ(CheckStorageWriteReply(acknowledged.data(), 10), ReplyStatus::kShort);
}

}  // namespace
