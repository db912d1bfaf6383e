// The commands defined in this folder, one per file, for the table in
// commands.cpp.
#pragma once

#include "command.h"

namespace jbbtool {

extern const Command kCheckCommand;
extern const Command kStatsCommand;
extern const Command kDumpCommand;
extern const Command kDiffCommand;
extern const Command kSchemaCommand;
extern const Command kInfoCommand;
extern const Command kRebuildCommand;
extern const Command kGetCommand;

}  // namespace jbbtool
