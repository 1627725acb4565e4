// Control of the PPG module's LEDs.
#pragma once

// DynamicLEDEnable with value 1 (enable non-zero) or 0; true when the module acknowledged.
// The caller holds the access discipline of a device command.
bool EnableDynamicLEDStrength(int enable);
