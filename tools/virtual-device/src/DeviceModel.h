// The simulator's side of the command set: one request in, one reply out, no I/O.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "vdev/VirtualDevice.h"

namespace vdev {

// A reply, with the index of the byte that carries the family's acknowledge (-1: none).
struct Reply {
    Bytes bytes;
    int ackIndex = -1;
};

// What a request asks of the transport besides its reply.
struct Effects {
    bool restart = false;          // the device restarts (node goes away and comes back)
    bool samplingChanged = false;  // photodiode sampling started or stopped
};

class DeviceModel {
  public:
    explicit DeviceModel(const DeviceConfig& config);

    // Handles one request that is not a stream packet. Returns false when the request is not
    // part of the command set (no reply is sent); name is set in either case.
    bool Handle(const Bytes& request, Reply* reply, Effects* effects, std::string* name);

    // Records the operate mode of a stream packet and builds its 64-byte acknowledgement.
    Reply StreamAck(const std::uint8_t* packet);

    // Flash access (no bounds beyond the channel's size).
    Bytes ReadFlash(int channel, std::size_t address, std::size_t count) const;
    bool WriteFlash(int channel, std::size_t address, const std::uint8_t* data, std::size_t count);
    bool EraseSector(int channel, std::size_t address);
    bool EraseChannel(int channel);
    bool HasChannel(int channel) const;
    // The table the device decodes DC codes with: channel 18 when valid, else the old location
    // when present, else the default table.
    std::vector<std::uint16_t> DecodeTable() const;
    std::uint64_t CalibrationGeneration() const { return m_calibrationGeneration; }
    // The resistance the external respiration module makes from its three potentiometer codes:
    // potentiometers 1 and 2 (20 kOhm, 1024 steps) in series with the coefficients k0 and k1 of
    // the flash record, in parallel with step codes[2] of the potentiometer-3 table. 0 without
    // the module or for a code outside its range.
    double RespirationOhms(const std::array<std::uint16_t, 4>& codes) const;
    // Fills the per-channel PPG fields of a decoded sample (nothing without a PPG module).
    void DecodePpgChannels(DecodedSample* sample) const;

    DeviceConfig& config() { return m_config; }
    const DeviceConfig& config() const { return m_config; }

    // Host-configured state.
    Bytes lastOutputConfig;
    Bytes lastShortOutputConfig;
    std::uint16_t sampleRate = 0;
    std::map<std::uint8_t, Bytes> settings;  // 60 value bytes per id
    std::array<Bytes, 2> moduleBlocks;
    std::uint8_t converterSelection = 0;
    bool samplingSelected = false;
    std::uint8_t samplingMask = 0;
    bool loaderActive = false;
    Bytes mcuMemory;
    bool dynamicLed = true;
    bool signalStrength = false;
    std::uint8_t ambientLightMode = 0;
    std::array<std::uint8_t, 10> autoTrigger{};
    int restarts = 0;
    // Cells that do not keep what the host writes: (channel or kMcuMemory, address).
    std::set<std::pair<int, std::size_t>> writeDefects;

  private:
    bool HandleQuery(const Bytes& rq, Reply* r, std::string* name);
    bool HandleStorage(const Bytes& rq, Reply* r, std::string* name);
    bool HandleSetting(const Bytes& rq, Reply* r, std::string* name);
    bool HandleConverter(const Bytes& rq, Reply* r, Effects* fx, std::string* name);
    bool HandlePpg(const Bytes& rq, Reply* r, std::string* name);
    bool HandleModuleBlock(const Bytes& rq, Reply* r, std::string* name);
    bool HandleModule(const Bytes& rq, Reply* r, Effects* fx, std::string* name);
    void FillPresetFlash();
    void PutDcTable(int channel, std::size_t address, const std::vector<std::uint16_t>& table);
    void ApplyMcuImageVersion();
    // Inverts bit 0 of every defective cell among the count bytes just written at address.
    void SpoilDefectiveCells(int channel, std::size_t address, std::size_t count, Bytes* memory);
    bool HasPpg() const { return m_config.module == DeviceConfig::Module::kPpg; }

    DeviceConfig m_config;
    std::map<int, Bytes> m_flash;
    std::uint64_t m_calibrationGeneration = 0;
};

// Offsets of the firmware images' marks and version bytes.
constexpr std::size_t kImageMarkOffset = 118772;
constexpr std::size_t kImageVersionOffset = 118776;
constexpr std::size_t kMcuMemorySize = 131072;

}  // namespace vdev
