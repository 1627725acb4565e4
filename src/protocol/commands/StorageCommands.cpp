#include "protocol/commands/StorageCommands.h"

#include <algorithm>

#include "protocol/commands/Bytes.h"

namespace {

CommandRequest<kStorageRequestLength> StorageFrame(std::uint8_t direction, StorageChannel channel,
                                                   bool erase, std::size_t count,
                                                   std::uint32_t address) {
    CommandRequest<kStorageRequestLength> frame{};
    frame[0] = 0x12;
    frame[1] = 0x55;
    frame[2] = 0xAA;
    frame[3] = direction;
    frame[5] = static_cast<std::uint8_t>(channel);
    frame[6] = erase ? 0x01 : 0x00;
    frame[7] = static_cast<std::uint8_t>(count);
    PutBigEndian32(frame.data() + 8, address);
    return frame;
}

}  // namespace

std::optional<CommandRequest<kStorageRequestLength>> BuildStorageRead(StorageChannel channel,
                                                                      std::uint32_t address,
                                                                      std::size_t count) {
    if (count > kStorageMaxData) return std::nullopt;
    return StorageFrame(kDirectionRead, channel, false, count, address);
}

std::optional<CommandRequest<kStorageRequestLength>> BuildStorageReadWords(StorageChannel channel,
                                                                           std::uint32_t address,
                                                                           std::size_t wordCount) {
    if (wordCount > kStorageMaxData / 2) return std::nullopt;
    return BuildStorageRead(channel, address, wordCount * 2);
}

ReplyStatus ParseStorageReadReply(const std::uint8_t* reply, std::size_t received,
                                  std::uint8_t* out, std::size_t count) {
    const ReplyStatus status = CheckReplyAcknowledged(reply, received, 4);
    if (status != ReplyStatus::kOk) return status;
    if (count > kStorageMaxData || (count > 0 && out == nullptr)) return ReplyStatus::kInvalid;
    std::copy(reply + kStorageDataOffset, reply + kStorageDataOffset + count, out);
    return ReplyStatus::kOk;
}

ReplyStatus ParseStorageReadWordsReply(const std::uint8_t* reply, std::size_t received,
                                       std::uint16_t* out, std::size_t wordCount) {
    const ReplyStatus status = CheckReplyAcknowledged(reply, received, 4);
    if (status != ReplyStatus::kOk) return status;
    if (wordCount > kStorageMaxData / 2 || (wordCount > 0 && out == nullptr)) {
        return ReplyStatus::kInvalid;
    }
    for (std::size_t i = 0; i < wordCount; ++i) {
        out[i] = GetBigEndian16(reply + kStorageDataOffset + 2 * i);
    }
    return ReplyStatus::kOk;
}

std::optional<CommandRequest<kStorageRequestLength>> BuildStorageWrite(StorageChannel channel,
                                                                       std::uint32_t address,
                                                                       const std::uint8_t* data,
                                                                       std::size_t count) {
    if (count > kStorageMaxData || (count > 0 && data == nullptr)) return std::nullopt;
    auto frame = StorageFrame(kDirectionWrite, channel, false, count, address);
    std::copy(data, data + count, frame.begin() + kStorageDataOffset);
    return frame;
}

std::optional<CommandRequest<kStorageRequestLength>> BuildStorageWriteWords(
    StorageChannel channel, std::uint32_t address, const std::uint16_t* words,
    std::size_t wordCount) {
    if (wordCount > kStorageMaxData / 2 || (wordCount > 0 && words == nullptr)) {
        return std::nullopt;
    }
    auto frame = StorageFrame(kDirectionWrite, channel, false, wordCount * 2, address);
    for (std::size_t i = 0; i < wordCount; ++i) {
        PutBigEndian16(frame.data() + kStorageDataOffset + 2 * i, words[i]);
    }
    return frame;
}

ReplyStatus CheckStorageWriteReply(const std::uint8_t* reply, std::size_t received) {
    return CheckReplyAcknowledged(reply, received, 4);
}

CommandRequest<kStorageRequestLength> BuildStorageErase(StorageChannel channel,
                                                        std::uint32_t address) {
    return StorageFrame(kDirectionWrite, channel, true, 0, address);
}

std::size_t StorageChunkCount(std::size_t total, std::size_t perChunk) {
    if (perChunk == 0) return 0;
    return (total + perChunk - 1) / perChunk;
}

StorageChunk ChunkOf(std::uint32_t baseAddress, std::size_t total, std::size_t index,
                     std::size_t perChunk, std::size_t elementBytes) {
    StorageChunk chunk;
    if (perChunk == 0 || index >= StorageChunkCount(total, perChunk)) {
        chunk.first = total;
        return chunk;  // past the end: an empty chunk
    }
    chunk.first = index * perChunk;
    chunk.elements = std::min(perChunk, total - chunk.first);
    chunk.address = baseAddress + static_cast<std::uint32_t>(chunk.first * elementBytes);
    chunk.countByte = static_cast<std::uint8_t>(chunk.elements * elementBytes);
    return chunk;
}

StorageChunk ByteRecordChunk(std::uint32_t baseAddress, std::size_t totalBytes, std::size_t index) {
    return ChunkOf(baseAddress, totalBytes, index, kStorageRecordChunkBytes, 1);
}

StorageChunk WordTableChunk(std::uint32_t baseAddress, std::size_t totalWords, std::size_t index) {
    return ChunkOf(baseAddress, totalWords, index, kStorageTableChunkWords, 2);
}

StorageChunk FirmwareChunk(std::uint32_t baseAddress, std::size_t totalBytes, std::size_t index) {
    return ChunkOf(baseAddress, totalBytes, index, kStorageFirmwareChunkBytes, 1);
}

std::size_t SectorCount(std::uint32_t regionBytes) {
    return StorageChunkCount(regionBytes, kFlashSectorBytes);
}

std::uint32_t SectorEraseAddress(std::uint32_t regionStart, std::size_t index) {
    return regionStart + static_cast<std::uint32_t>(index) * kFlashSectorBytes;
}
