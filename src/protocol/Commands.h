// The device command catalogue: request builders and reply parsers of every command the
// library sends to the simulator, as pure functions over byte buffers. Sending, reading and
// the locking discipline belong to the transport; see CommandTypes.h for the conventions.
#pragma once

#include "protocol/CommandTypes.h"
#include "protocol/ModuleCommands.h"
#include "protocol/OutputCommands.h"
#include "protocol/QueryCommands.h"
#include "protocol/SettingCommands.h"
#include "protocol/StorageCommands.h"
