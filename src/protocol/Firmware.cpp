#include "protocol/Firmware.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <utility>

#include "link/Device.h"
#include "link/Monitor.h"
#include "platform/Clock.h"
#include "platform/NoThrow.h"
#include "platform/Text.h"
#include "protocol/Discipline.h"
#include "protocol/Exchange.h"
#include "protocol/commands/ModuleCommands.h"
#include "protocol/commands/QueryCommands.h"
#include "tolvan.h"

namespace {

// ---- State ------------------------------------------------------------------------------------
// The loaded images, guarded by the API lock (loads and burns hold it).
std::unique_ptr<std::uint8_t[]> g_pFlashData;
std::size_t g_nFlashSize = 0;
std::unique_ptr<std::uint8_t[]> g_pMCUData;
std::size_t g_nMCUSize = 0;

// Written during static initialisation (the handler) or by tests before a burn (the sleep).
LoaderReconnectHandler s_reconnectHandler = nullptr;
LoaderSleep s_loaderSleep = nullptr;

void LoaderWait(unsigned ms) {
    if (s_loaderSleep != nullptr) {
        s_loaderSleep(ms);
    } else {
        SleepEx(ms);
    }
}

// ---- Images -----------------------------------------------------------------------------------

int CheckImage(const std::uint8_t* image, std::size_t size, std::size_t minSize,
               std::size_t maxSize, const std::array<std::uint8_t, 4>& mark,
               ImageVersion* version) {
    if (image == nullptr || size < minSize || size > maxSize) return kImageInvalid;
    if (!std::equal(mark.begin(), mark.end(), image + kImageMarkOffset)) return kImageInvalid;
    if (version != nullptr) {
        for (int i = 0; i < 4; ++i) version->parts[i] = image[kImageVersionOffset + i];
    }
    return kFirmwareOk;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads `size` bytes of the file at path into a new buffer: 0, or -4, -1, -5.
int ReadImageFile(const char* path, std::size_t size, std::unique_ptr<std::uint8_t[]>* out) {
    std::unique_ptr<std::uint8_t[]> data(new (std::nothrow)
                                             std::uint8_t[std::max<std::size_t>(size, 1)]);
    if (!data) return kImageNoMemory;
    const File file(OpenFileUtf8(path, "rb"));
    if (!file) return kImageOpenFailed;
    if (std::fread(data.get(), 1, size, file.get()) != size) return kImageShortRead;
    *out = std::move(data);
    return kFirmwareOk;
}

// ---- One burn -----------------------------------------------------------------------------------

// The progress callback of one burn.
class Progress {
  public:
    explicit Progress(BurnProgress callback) : m_callback(callback) {}
    // Reports a step of stages 1..3; true when the callback asks to cancel.
    bool Cancelled(int stage, int value) const {
        return m_callback != nullptr && m_callback(stage, value) == kBurnCancelRequest;
    }
    void Report(int stage, int value) const {
        if (m_callback != nullptr) m_callback(stage, value);
    }

  private:
    BurnProgress m_callback;
};

// Percent of `done` out of `total`, rounded down.
int Percent(std::size_t done, std::size_t total) {
    return total == 0 ? 0 : static_cast<int>(static_cast<unsigned long long>(done) * 100 / total);
}

// One exchange of the loader: the request, the loader's pause, the 64-byte reply.
enum class Leg { kOk, kWriteFailed, kShortReply };

template <std::size_t N>
Leg Exchange(const CommandRequest<N>& request, unsigned waitMs,
             CommandRequest<kCommandReplyLength>* reply) {
    const int length = static_cast<int>(N);
    if (DeviceWriteData(request.data(), length, 1) != length) return Leg::kWriteFailed;
    if (waitMs > 0) LoaderWait(waitMs);
    const int got = DeviceReadData(reply->data(), static_cast<int>(reply->size()));
    return got == static_cast<int>(reply->size()) ? Leg::kOk : Leg::kShortReply;
}

// An erase or write leg's failure as the phase's result.
int LegResult(Leg leg) {
    switch (leg) {
        case Leg::kOk:
            return kFirmwareOk;
        case Leg::kWriteFailed:
            return kFirmwareWriteFailed;
        case Leg::kShortReply:
            return kFirmwareShortReply;
    }
    return kFirmwareWriteFailed;
}

// A verify leg's failure: what the callback is told and what the phase returns.
struct VerifyFailure {
    int reported;
    int result;
    const char* line;  // the line printed by a firmware verify
};
constexpr VerifyFailure kVerifyWriteFailure{kVerifyRequestFailed, kFirmwareWriteFailed,
                                            "[ERROR] read/verify - write data failed "
                                            "(address: 0x%x)\n"};
constexpr VerifyFailure kVerifyReadFailure{kVerifyReplyShort, kFirmwareShortReply,
                                           "[ERROR] read/verify - read data failed "
                                           "(address: 0x%x)\n"};
constexpr VerifyFailure kVerifyCompareFailure{kVerifyMismatch, kVerifyMismatch,
                                              "[ERROR] read/verify - compare data failed "
                                              "(address: 0x%x)\n"};

// The restart's hold on the monitor and the connect thread, released on every path.
class RestartHold {
  public:
    RestartHold() { BeginLoaderRestart(); }
    ~RestartHold() { EndLoaderRestart(); }
    RestartHold(const RestartHold&) = delete;
    RestartHold& operator=(const RestartHold&) = delete;
};

// The restart command is answered by the old firmware, which may go on answering for a while
// before the device resets and leaves the bus. A search started at once could find it again
// there, identify it and load its records, and then lose it: the burn would report the device
// back while the session is about to see an unplug. So the port is read (a late reply is drained
// with it) until it hangs up or its node goes, for at most kRestartGoneMs; a device that stays
// on the bus through its restart is searched for after that.
void AwaitRestartGone() {
    const std::int64_t deadline =
        MonotonicNanos() + static_cast<std::int64_t>(kRestartGoneMs) * 1000000;
    std::uint8_t byte = 0;
    while (DeviceIsAlive() && MillisecondsUntil(deadline) > 0) DeviceReadData(&byte, 1);
}

// Closing is done; searches every port for the restarted device, and for a device found runs
// the session's connect-time steps. Reports (6, 100) and returns 0, or (6, -11) and -11.
int Reconnect(const Progress& progress) {
    const bool back = DeviceConnect(-1, kReconnectTries) == 1;
    if (back && s_reconnectHandler != nullptr) s_reconnectHandler();
    const int result = back ? kFirmwareOk : kDeviceNotBack;
    progress.Report(kStageEnd, back ? kBurnDone : result);
    return result;
}

// Who may burn now: 0, or -3 without a connected device, -12 while playback or photodiode
// sampling runs (their traffic would mix with the loader's), -6 without a valid image.
int BurnPrecondition(const std::uint8_t* image) {
    if (!DeviceIsConnected() || g_bConnected == 0) return kFirmwareNoDevice;
    if (IsPlayingOrSampling()) return kFirmwareDeviceBusy;
    if (image == nullptr) return kImageInvalid;
    return kFirmwareOk;
}

// ---- The simulator's firmware -------------------------------------------------------------------

int FirmwarePercent(std::uint32_t address) {
    return Percent(address, kFirmwareImageBytes);
}

int EraseFirmware(const Progress& progress) {
    CommandRequest<kCommandReplyLength> reply{};
    for (const FirmwareArea& area : kFirmwareAreas) {
        for (std::size_t i = 0; i < SectorCount(area.bytes); ++i) {
            const std::uint32_t address = SectorEraseAddress(area.address, i);
            if (progress.Cancelled(kStageErase, FirmwarePercent(address))) {
                return kFirmwareCancelled;
            }
            const Leg leg = Exchange(BuildStorageErase(StorageChannel::kFirmware, address),
                                     kFirmwareEraseWaitMs, &reply);
            if (leg != Leg::kOk) return LegResult(leg);
        }
    }
    return kFirmwareOk;
}

int WriteFirmware(const Progress& progress, const std::uint8_t* image) {
    CommandRequest<kCommandReplyLength> reply{};
    for (const FirmwareArea& area : kFirmwareAreas) {
        for (std::size_t i = 0; i < StorageChunkCount(area.bytes, kStorageFirmwareChunkBytes);
             ++i) {
            const StorageChunk chunk = FirmwareChunk(area.address, area.bytes, i);
            if (progress.Cancelled(kStageWrite, FirmwarePercent(chunk.address))) {
                return kFirmwareCancelled;
            }
            const auto request = BuildStorageWrite(StorageChannel::kFirmware, chunk.address,
                                                   image + chunk.address, chunk.elements);
            if (!request) return kFirmwareWriteFailed;
            const Leg leg = Exchange(*request, 0, &reply);
            if (leg != Leg::kOk) return LegResult(leg);
        }
    }
    return kFirmwareOk;
}

int FailVerify(const Progress& progress, const VerifyFailure& failure, std::uint32_t offset,
               bool print) {
    if (print) {
        std::printf(failure.line, static_cast<unsigned>(offset));
        std::fflush(stdout);
    }
    progress.Report(kStageEnd, failure.reported);
    return failure.result;
}

int VerifyFirmware(const Progress& progress, const std::uint8_t* image) {
    CommandRequest<kCommandReplyLength> reply{};
    for (const FirmwareArea& area : kFirmwareAreas) {
        for (std::size_t i = 0; i < StorageChunkCount(area.bytes, kStorageFirmwareChunkBytes);
             ++i) {
            const StorageChunk chunk = FirmwareChunk(area.address, area.bytes, i);
            const std::uint32_t offset = chunk.address - area.address;
            if (progress.Cancelled(kStageVerify, FirmwarePercent(chunk.address))) {
                return kFirmwareCancelled;
            }
            const auto request =
                BuildStorageRead(StorageChannel::kFirmware, chunk.address, chunk.elements);
            const Leg leg = request ? Exchange(*request, 0, &reply) : Leg::kWriteFailed;
            if (leg == Leg::kWriteFailed) {
                return FailVerify(progress, kVerifyWriteFailure, offset, true);
            }
            if (leg == Leg::kShortReply) {
                return FailVerify(progress, kVerifyReadFailure, offset, true);
            }
            if (!std::equal(image + chunk.address, image + chunk.address + chunk.elements,
                            reply.begin() + kStorageDataOffset)) {
                return FailVerify(progress, kVerifyCompareFailure, offset, true);
            }
        }
    }
    return kFirmwareOk;
}

int BurnFirmwareImage(const Progress& progress, const std::uint8_t* image) {
    // Erase, write, verify: a phase that fails (or is cancelled inside) reports its result.
    using Phase = int (*)(const Progress&, const std::uint8_t*);
    const Phase phases[] = {
        [](const Progress& p, const std::uint8_t*) { return EraseFirmware(p); },
        WriteFirmware,
        VerifyFirmware,
    };
    const int stages[] = {kStageErase, kStageWrite, kStageVerify};
    for (int i = 0; i < 3; ++i) {
        const int result = phases[i](progress, image);
        if (result != kFirmwareOk) {
            progress.Report(kStageEnd, result);
            return result;
        }
        if (progress.Cancelled(stages[i], kBurnDone)) return kFirmwareCancelled;
    }

    // The image is verified: restart the device into it, then find it again.
    progress.Report(kStageRestart, kBurnRestarting);
    RestartHold hold;
    CommandRequest<kCommandReplyLength> reply{};
    if (Exchange(BuildRestart(), 0, &reply) == Leg::kWriteFailed) {
        progress.Report(kStageEnd, kRestartWriteFailed);
        return kRestartWriteFailed;
    }
    AwaitRestartGone();
    DeviceClose();
    progress.Report(kStageReconnect, kBurnDone);
    return Reconnect(progress);
}

// ---- The PPG module's microcontroller ----------------------------------------------------------

int EraseMcu(const Progress& progress, std::size_t size) {
    CommandRequest<kCommandReplyLength> reply{};
    for (std::size_t i = 0; i < SectorCount(static_cast<std::uint32_t>(size)); ++i) {
        const std::uint32_t address = SectorEraseAddress(0, i);
        if (progress.Cancelled(kStageErase, Percent(address, size))) return kFirmwareCancelled;
        const auto request = BuildMcuErase(address);
        const Leg leg = request ? Exchange(*request, kMcuEraseWaitMs, &reply) : Leg::kWriteFailed;
        if (leg != Leg::kOk) {
            progress.Report(kStageEnd, LegResult(leg));
            return LegResult(leg);
        }
    }
    return kFirmwareOk;
}

int WriteMcu(const Progress& progress, const std::uint8_t* image, std::size_t size) {
    CommandRequest<kCommandReplyLength> reply{};
    for (std::size_t i = 0; i < StorageChunkCount(size, kMcuWriteChunkBytes); ++i) {
        const StorageChunk chunk = McuWriteChunk(size, i);
        if (progress.Cancelled(kStageWrite, Percent(chunk.address, size))) {
            return kFirmwareCancelled;
        }
        const auto request = BuildMcuWrite(chunk.address, image + chunk.first, chunk.elements);
        const Leg leg = request ? Exchange(*request, 0, &reply) : Leg::kWriteFailed;
        if (leg != Leg::kOk) {
            progress.Report(kStageEnd, LegResult(leg));
            return LegResult(leg);
        }
    }
    return kFirmwareOk;
}

int VerifyMcu(const Progress& progress, const std::uint8_t* image, std::size_t size) {
    CommandRequest<kCommandReplyLength> reply{};
    for (std::size_t i = 0; i < StorageChunkCount(size, kMcuReadChunkBytes); ++i) {
        const StorageChunk chunk = McuReadChunk(size, i);
        if (progress.Cancelled(kStageVerify, Percent(chunk.address, size))) {
            return kFirmwareCancelled;
        }
        const auto request = BuildMcuRead(chunk.address, chunk.elements);
        const Leg leg = request ? Exchange(*request, 0, &reply) : Leg::kWriteFailed;
        if (leg == Leg::kWriteFailed) {
            return FailVerify(progress, kVerifyWriteFailure, chunk.address, false);
        }
        if (leg == Leg::kShortReply) {
            return FailVerify(progress, kVerifyReadFailure, chunk.address, false);
        }
        if (!std::equal(image + chunk.first, image + chunk.first + chunk.elements,
                        reply.begin() + kMcuDataOffset)) {
            return FailVerify(progress, kVerifyCompareFailure, chunk.address, false);
        }
    }
    return kFirmwareOk;
}

int BurnMcuImage(const Progress& progress, const std::uint8_t* image, std::size_t size) {
    if (!TransactOk(BuildLoaderMode(kLoaderEnter), CheckLoaderModeReply)) {
        return kMcuLoaderRefused;
    }
    int result = EraseMcu(progress, size);
    if (result != kFirmwareOk) return result;
    if (progress.Cancelled(kStageErase, kBurnDone)) return kFirmwareCancelled;
    result = WriteMcu(progress, image, size);
    if (result != kFirmwareOk) return result;
    if (progress.Cancelled(kStageWrite, kBurnDone)) return kFirmwareCancelled;
    result = VerifyMcu(progress, image, size);
    if (result != kFirmwareOk) return result;
    if (progress.Cancelled(kStageVerify, kBurnDone)) return kFirmwareCancelled;

    // Verified: restart the microcontroller into its new image, then find the device again.
    progress.Report(kStageRestart, kBurnRestarting);
    RestartHold hold;
    Transact(BuildLoaderMode(kLoaderRestart));
    LoaderWait(kMcuRestartWaitMs);
    progress.Report(kStageReconnect, kBurnDone);
    DeviceClose();
    LoaderWait(kMcuReconnectPauseMs);
    return Reconnect(progress);
}

}  // namespace

// ---- Internal interface -------------------------------------------------------------------------

int CheckFirmwareImage(const std::uint8_t* image, std::size_t size, ImageVersion* version) {
    return CheckImage(image, size, kFirmwareImageBytes, static_cast<std::size_t>(-1),
                      kFirmwareImageMark, version);
}

int CheckMcuImage(const std::uint8_t* image, std::size_t size, ImageVersion* version) {
    return CheckImage(image, size, kMcuImageMinBytes, kMcuImageMaxBytes, kMcuImageMark, version);
}

int DoLoadFirmwareFile(const char* path, ImageVersion* version) {
    // Whatever the outcome, the image loaded before is gone: a burn never writes an image other
    // than the one the last load accepted.
    g_pFlashData.reset();
    g_nFlashSize = 0;
    const long long size = GetFileSizeUtf8(path);
    if (size < 0) return kImageMissing;
    if (size < static_cast<long long>(kFirmwareImageBytes)) return kImageInvalid;
    std::unique_ptr<std::uint8_t[]> data;
    const int read = ReadImageFile(path, kFirmwareImageBytes, &data);
    if (read != kFirmwareOk) return read;
    const int check = CheckFirmwareImage(data.get(), kFirmwareImageBytes, version);
    if (check != kFirmwareOk) return check;
    g_pFlashData = std::move(data);
    g_nFlashSize = kFirmwareImageBytes;
    return static_cast<int>(g_nFlashSize);
}

int DoLoadMcuFile(const char* path, ImageVersion* version) {
    g_pMCUData.reset();
    g_nMCUSize = 0;
    const long long size = GetFileSizeUtf8(path);
    if (size < 0) return kImageMissing;
    // Larger than the loader can address: refused before it is read.
    if (static_cast<unsigned long long>(size) > kMcuImageMaxBytes) return kImageInvalid;
    std::unique_ptr<std::uint8_t[]> data;
    const auto bytes = static_cast<std::size_t>(size);
    const int read = ReadImageFile(path, bytes, &data);
    if (read != kFirmwareOk) return read;
    const int check = CheckMcuImage(data.get(), bytes, version);
    if (check != kFirmwareOk) return check;
    g_pMCUData = std::move(data);
    g_nMCUSize = bytes;
    return static_cast<int>(g_nMCUSize);
}

int DoBurnFirmware(BurnProgress callback) {
    CAutoCriticalSection api(g_APICriticalSection);
    const int ready = BurnPrecondition(g_pFlashData.get());
    if (ready != kFirmwareOk) return ready;
    CDeviceCommand discipline;
    if (!discipline.Ready()) return kFirmwareNoDevice;
    return BurnFirmwareImage(Progress(callback), g_pFlashData.get());
}

int DoBurnMcu(BurnProgress callback) {
    CAutoCriticalSection api(g_APICriticalSection);
    const Progress progress(callback);
    const int ready = BurnPrecondition(g_pMCUData.get());
    if (ready != kFirmwareOk) {
        progress.Report(kStageEnd, ready);
        return ready;
    }
    CDeviceCommand discipline;
    int result = discipline.Ready() ? BurnMcuImage(progress, g_pMCUData.get(), g_nMCUSize)
                                    : kFirmwareNoDevice;
    // A burn that did not finish leaves the loader (after a restart whose device did not come
    // back there is no port to tell); the last report carries the outcome.
    if (result < 0 && result != kDeviceNotBack) Transact(BuildLoaderMode(kLoaderLeave));
    progress.Report(kStageEnd, result < 0 ? result : kBurnDone);
    return result;
}

void RegisterLoaderReconnectHandler(LoaderReconnectHandler handler) {
    s_reconnectHandler = handler;
}

void SetLoaderSleep(LoaderSleep sleep) {
    s_loaderSleep = sleep;
}

// ---- Exported functions -------------------------------------------------------------------------

namespace {

int LoadImage(int (*load)(const char*, ImageVersion*), const char* path, int* first, int* second,
              int* third, int* fourth) {
    return NoThrow(kImageNoMemory, [&] {
        if (path == nullptr) return kImageMissing;
        CAutoCriticalSection api(g_APICriticalSection);
        ImageVersion version;
        const int result = load(path, &version);
        if (result < 0) return result;
        int* out[4] = {first, second, third, fourth};
        for (int i = 0; i < 4; ++i) {
            if (out[i] != nullptr) *out[i] = version.parts[i];
        }
        return result;
    });
}

}  // namespace

extern "C" {

TOLV_SERVICE_API int LoadFirmwareFile(const char* path, int* first, int* second, int* third,
                                      int* fourth) {
    return LoadImage(DoLoadFirmwareFile, path, first, second, third, fourth);
}

TOLV_SERVICE_API int BurnFirmware(TOLV_BURN_PROGRESS_CALLBACK callback) {
    return NoThrow(kFirmwareWriteFailed, [&] { return DoBurnFirmware(callback); });
}

TOLV_SERVICE_API int LoadMcuFile(const char* path, int* first, int* second, int* third,
                                 int* fourth) {
    return LoadImage(DoLoadMcuFile, path, first, second, third, fourth);
}

TOLV_SERVICE_API int BurnMcu(TOLV_BURN_PROGRESS_CALLBACK callback) {
    return NoThrow(kFirmwareWriteFailed, [&] { return DoBurnMcu(callback); });
}

}  // extern "C"
