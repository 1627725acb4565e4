// Identification: is the thing behind the open port the simulator? Registered with the port
// search at load (link/Device.h), and run by TOLVSetDeviceHandle on an adopted handle.
#pragma once

// Stops PPG sampling, drains the link and sends the identify request under the access
// discipline. True when the simulator answered; its information records have then been loaded
// and the serial sequence of g_ModelInfo is the one of the reply.
bool IsTargetDevice();
