// The device command catalogue: request builders and reply parsers of every command the
// library sends to the simulator, as pure functions over byte buffers. Sending, reading and
// the locking discipline belong to the transport; see CommandTypes.h for the conventions.
#pragma once

#include "protocol/commands/CommandTypes.h"
#include "protocol/commands/ModuleCommands.h"
#include "protocol/commands/OutputCommands.h"
#include "protocol/commands/QueryCommands.h"
#include "protocol/commands/SettingCommands.h"
#include "protocol/commands/StorageCommands.h"
