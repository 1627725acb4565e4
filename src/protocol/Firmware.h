// Firmware update of the simulator and of the microcontroller in the PPG module 0x2112: loading
// and checking image files, and burning a loaded image - erase, write and read back in chunks
// while a progress callback follows (and may cancel), then restart the device and connect to it
// again.
//
// Threads: the exported functions run on the application's thread. A burn holds the command
// discipline (API lock, interrupt lock, paused poll thread) from its first command to its end,
// the restart and the reconnect included; the progress callback runs inside it. During the
// restart the hot-plug monitor and the connect thread leave the port to the loader
// (link/Monitor.h), and the session's connect-time steps run again for the device found (the
// reconnect handler below) before the burn reports its end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/commands/StorageCommands.h"

// ---- Result codes -----------------------------------------------------------------------------
// A load returns the image size instead of 0 on success.
constexpr int kFirmwareOk = 0;
constexpr int kFirmwareCancelled = -1;    // cancelled by the callback
constexpr int kImageOpenFailed = -1;      // the image file cannot be opened
constexpr int kImageMissing = -2;         // the file does not exist or its size is unknown
constexpr int kFirmwareNoDevice = -3;     // no device connected
constexpr int kImageNoMemory = -4;        // no memory for the image
constexpr int kMcuLoaderRefused = -4;     // the microcontroller did not enter its loader
constexpr int kFirmwareWriteFailed = -5;  // a command write failed
constexpr int kImageShortRead = -5;       // the image file could not be read whole
constexpr int kFirmwareShortReply = -6;   // a reply did not come back whole
constexpr int kImageInvalid = -6;         // wrong image mark or size (or no image loaded)
constexpr int kVerifyRequestFailed = -7;  // to the callback: a read-back request not written
constexpr int kVerifyReplyShort = -8;     // to the callback: a read-back reply not whole
constexpr int kVerifyMismatch = -9;       // read-back data differ from the image
constexpr int kRestartWriteFailed = -10;  // the restart command could not be written
constexpr int kDeviceNotBack = -11;       // the device did not come back after the restart
constexpr int kFirmwareDeviceBusy = -12;  // playback or photodiode sampling runs

// ---- Progress ---------------------------------------------------------------------------------
enum BurnStage : int {
    kStageErase = 1,      // value: percent
    kStageWrite = 2,      // value: percent
    kStageVerify = 3,     // value: percent
    kStageRestart = 4,    // value 99, just before the restart
    kStageReconnect = 5,  // value 100, while reconnecting
    kStageEnd = 6,        // value 100 on success, else the negative result
};
// The callback's answer that cancels the update (stages 1..3).
constexpr int kBurnCancelRequest = 1;
constexpr int kBurnDone = 100;
constexpr int kBurnRestarting = 99;

using BurnProgress = int (*)(int stage, int value);

// ---- Image layouts ------------------------------------------------------------------------------
// Both images carry a four-byte mark and four version numbers (one byte each).
constexpr std::size_t kImageMarkOffset = 118772;
constexpr std::size_t kImageVersionOffset = 118776;
constexpr std::array<std::uint8_t, 4> kFirmwareImageMark{{'T', 'O', 'L', 'V'}};
constexpr std::array<std::uint8_t, 4> kMcuImageMark{{0x32, 0x54, 0x46, 0x32}};  // "2TF2"

// The simulator's image: the first 122880 bytes of the file (kFirmwareImageBytes), mapped onto
// storage channel 3 in two areas at the same addresses; the calibration area between them is
// left alone.
struct FirmwareArea {
    std::uint32_t address;
    std::uint32_t bytes;
};
constexpr FirmwareArea kFirmwareAreas[2] = {
    {kFirmwareFirstPartAddress, kFirmwareFirstPartBytes},
    {kFirmwareSecondPartAddress, kFirmwareImageBytes - kFirmwareSecondPartAddress},
};
constexpr unsigned kFirmwareEraseWaitMs = 40;
// After the restart command: the longest wait for the old firmware to leave the bus before the
// search for the restarted device begins.
constexpr unsigned kRestartGoneMs = 2000;

// The microcontroller's image: the whole file, written from address 0. It must reach the last
// version byte, and it must fit the loader's 24-bit addresses.
constexpr std::size_t kMcuImageMinBytes = kImageVersionOffset + 4;
constexpr std::size_t kMcuImageMaxBytes = std::size_t{1} << 24;
constexpr unsigned kMcuRestartWaitMs = 5000;
constexpr unsigned kMcuReconnectPauseMs = 1000;
// Passes of the port search after a restart.
constexpr int kReconnectTries = 10;

struct ImageVersion {
    std::array<int, 4> parts{};
};

// Checks an image held in memory: 0 (and *version, when not null, filled) or kImageInvalid.
// A firmware image must be at least kFirmwareImageBytes long; an MCU image between
// kMcuImageMinBytes and kMcuImageMaxBytes.
int CheckFirmwareImage(const std::uint8_t* image, std::size_t size, ImageVersion* version);
int CheckMcuImage(const std::uint8_t* image, std::size_t size, ImageVersion* version);

// Loads an image file (UTF-8 path) in place of the image of its kind. Returns the image size,
// or -1 (cannot be opened), -2 (missing), -4 (no memory), -5 (short read), -6 (too short, too
// long or a wrong mark). A failed load leaves no image of its kind loaded. Caller holds the API
// lock.
int DoLoadFirmwareFile(const char* path, ImageVersion* version);
int DoLoadMcuFile(const char* path, ImageVersion* version);

// Burns the loaded image; 0 or a negative result code. progress may be null. Take the API lock
// themselves.
int DoBurnFirmware(BurnProgress progress);
int DoBurnMcu(BurnProgress progress);

// The session's connect-time steps for a device that a burn restarted and found again; run by
// the burn with the command discipline held. Registered at load by the session; none by
// default.
using LoaderReconnectHandler = void (*)();
void RegisterLoaderReconnectHandler(LoaderReconnectHandler handler);

// The pauses of the loader (between an erase and its reply, after a restart) go through this
// function; tests replace it to see the pauses without waiting for them. nullptr restores the
// default (SleepEx).
using LoaderSleep = void (*)(unsigned ms);
void SetLoaderSleep(LoaderSleep sleep);
