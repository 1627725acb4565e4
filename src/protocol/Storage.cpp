#include "protocol/Storage.h"

#include <algorithm>

#include "platform/Platform.h"
#include "protocol/Exchange.h"

namespace {

// A write chunk: send, wait, judge the acknowledge, pause after a good reply.
template <std::size_t N>
bool WriteChunk(const std::optional<CommandRequest<N>>& request) {
    if (!request || !TransactOk(*request, CheckStorageWriteReply, kStorageWriteReplyWaitMs)) {
        return false;
    }
    SleepEx(kStorageWritePauseMs);
    return true;
}

// A storage read's reply repeats the request header: channel (byte 5), count (byte 7) and
// address (bytes 8..11). A reply that names another chunk (a late answer to an earlier,
// timed-out request) is refused instead of being stored as this chunk's data.
bool EchoesRequest(const std::uint8_t* reply, std::size_t received,
                   const CommandRequest<kStorageRequestLength>& request) {
    if (received != kCommandReplyLength) return true;  // judged by the parser
    return reply[5] == request[5] && reply[7] == request[7] &&
           std::equal(request.begin() + 8, request.begin() + 12, reply + 8);
}

// A read chunk: send, read, refuse a reply that answers another chunk, then parse(reply,
// received) stores the data and judges it.
template <typename Parse>
bool ReadChunk(const std::optional<CommandRequest<kStorageRequestLength>>& request, Parse parse) {
    if (!request) return false;
    return Transact(*request, [&](const std::uint8_t* reply, std::size_t received) {
        return EchoesRequest(reply, received, *request) &&
               parse(reply, received) == ReplyStatus::kOk;
    });
}

}  // namespace

bool FlashRead(StorageChannel channel, std::uint32_t address, std::uint8_t* bytes,
               std::size_t count) {
    if (bytes == nullptr && count > 0) return false;
    const std::size_t chunks = StorageChunkCount(count, kStorageRecordChunkBytes);
    for (std::size_t i = 0; i < chunks; ++i) {
        const StorageChunk chunk = ByteRecordChunk(address, count, i);
        const auto parse = [&](const std::uint8_t* reply, std::size_t received) {
            return ParseStorageReadReply(reply, received, bytes + chunk.first, chunk.elements);
        };
        if (!ReadChunk(BuildStorageRead(channel, chunk.address, chunk.elements), parse)) {
            return false;
        }
        SleepEx(kStorageRecordReadPauseMs);
    }
    return true;
}

bool FlashWrite(StorageChannel channel, std::uint32_t address, const std::uint8_t* bytes,
                std::size_t count) {
    if (bytes == nullptr && count > 0) return false;
    const std::size_t chunks = StorageChunkCount(count, kStorageRecordChunkBytes);
    for (std::size_t i = 0; i < chunks; ++i) {
        const StorageChunk chunk = ByteRecordChunk(address, count, i);
        if (!WriteChunk(
                BuildStorageWrite(channel, chunk.address, bytes + chunk.first, chunk.elements))) {
            return false;
        }
    }
    return true;
}

bool FlashErase(StorageChannel channel, std::uint32_t address) {
    return Transact(BuildStorageErase(channel, address), kStorageEraseReplyWaitMs).complete();
}

bool DoReadFlash(std::uint32_t address, StorageChannel channel, std::uint16_t* words,
                 std::size_t count) {
    if (words == nullptr && count > 0) return false;
    std::fill(words, words + count, static_cast<std::uint16_t>(0));
    const std::size_t chunks = StorageChunkCount(count, kStorageTableChunkWords);
    for (std::size_t i = 0; i < chunks; ++i) {
        const StorageChunk chunk = WordTableChunk(address, count, i);
        const auto parse = [&](const std::uint8_t* reply, std::size_t received) {
            return ParseStorageReadWordsReply(reply, received, words + chunk.first, chunk.elements);
        };
        if (!ReadChunk(BuildStorageReadWords(channel, chunk.address, chunk.elements), parse)) {
            return false;
        }
    }
    return true;
}

bool DoWriteFlash(std::uint32_t address, StorageChannel channel, const std::uint16_t* words,
                  std::size_t count) {
    if (words == nullptr && count > 0) return false;
    const std::size_t chunks = StorageChunkCount(count, kStorageTableChunkWords);
    for (std::size_t i = 0; i < chunks; ++i) {
        const StorageChunk chunk = WordTableChunk(address, count, i);
        if (!WriteChunk(BuildStorageWriteWords(channel, chunk.address, words + chunk.first,
                                               chunk.elements))) {
            return false;
        }
    }
    return true;
}
