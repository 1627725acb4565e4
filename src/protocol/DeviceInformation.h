// What the simulator and its PPG module are: model, serial number, versions, capabilities.
//
// The records are loaded by the identification of a port (connect thread, under the API and
// interrupt locks), zeroed at every disconnect (under the API lock) and read by API calls under
// the API lock. The play thread and the timer tick never read the records: what they need of the
// module record (model, letters, output channels) is republished into one atomic word each time
// that record changes, and read through the functions below.
#pragma once

#include <cstdint>
#include <string>

#include "tolvan.h"

extern MODEL_INFORMATION g_ModelInfo;
extern MODEL_INFORMATION g_PPGModelInfo;
extern HW_INFORMATION g_HWInfo;
extern HW_INFORMATION g_PPGHWInfo;
extern DEVICE_FEATURE g_DeviceFeature;
// Largest PPG DAC codes (4095 or 65535).
extern int g_nPPGDCDacLevel;
extern int g_nPPGACDacLevel;
// Photodiode ratio blocks of the PPG module, loaded with its sampling calibration.
extern float g_FPGA_PDRatio[3][8];

// Publishes g_PPGModelInfo to the lock-free readers below; every writer of that record calls it
// right after writing.
void PublishModuleRecord();
// Reloads every record from the device on the open port. Called by the identification only.
void UpdateDeviceInformation();
// Zeroes the simulator's and the module's records (at a disconnect).
void ClearDeviceInformation();

// Fills the output channel map of a PPG module record from its letters and model code.
void UpdatePPGLedTypeByModelNumber(MODEL_INFORMATION* info);
// Fills g_DeviceFeature from the table of models (first row when the model is unknown).
void UpdateDeviceFeatureByPPGModule(const MODEL_INFORMATION* info);
// The capability row of a full model number (the first row when it is not in the table).
DEVICE_FEATURE DeviceFeatureForModel(std::uint16_t fullModelNumber);
// Bits of the PPG DAC: 16 or 12.
int DoGetPPGDacLevel();
// GetPPGFullModelNumber() is declared in tolvan.h (a service function of the Linux builds).
// It, _IsPPGConnected, ExtRespIsAvailable and PPGOutputChannel read the published copy of the
// module record and are safe on any thread without a lock.
bool _IsPPGConnected();
// The accessory on the module port is the external respiration module (letters 'E' 'R').
bool ExtRespIsAvailable();
// The output channel (0..2, 3 = none) of LED slot 0..2 of the module record.
int PPGOutputChannel(int slot);
int GetFWMainVer();
int GetPPGFwMainVer();
std::string GetPPGFwVersion();

// "Q%c%c%02x%02x-%02d%04d" of a record; empty unless exactly 14 characters long.
std::string SerialNumberText(const MODEL_INFORMATION& info);
// "%d.%d.%02d.%02d" of the four firmware version parts.
std::string FirmwareVersionText(const HW_INFORMATION& info);
// The serial number text and "%d.%d" of (minor / 10, minor % 10), each character written as
// two upper-case hexadecimal digits.
std::string DeviceIdText(const MODEL_INFORMATION& model, const HW_INFORMATION& hw);
// The 18 values of the FPGA report from an 18-byte sampling status record and the PD ratios
// (indices 0..2 and 8..10 are used).
void BuildFPGAReport(const std::uint8_t* record, const float* pdRatios, double* out);

// Rewrite the model information image in channel 1 (the caller holds the access discipline).
bool SetModelInfo(const MODEL_INFORMATION* info);
bool SetHWInfo(int major, int minor);
