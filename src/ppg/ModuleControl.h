// Control of the PPG module: LED drive and trigger levels, dynamic LED strength, signal-strength
// detection, ambient light, the LED pulse groups, the photodiode status and the module's generic
// settings. Every operation is one device command under the access discipline
// (protocol/Discipline.h); the exported ones are declared in tolvan.h.
#pragma once

#include <cstdint>

// DynamicLEDEnable with value 1 (enable non-zero) or 0; true when the module acknowledged.
// The caller holds the access discipline of a device command.
bool DoEnableDynamicLEDStrength(int enable);

// The module's LED numbered 1..3 lights an output slot (its slot holds an LED type other
// than 3).
bool PPGLedSlotUsed(int led);

// SettingWriteShort / SettingReadShort of a module setting: 0 or -1 / the value or -1.
int _SetPPGMode(int id, int value);
int _GetPPGMode(int id);
