// The table of jbbtool's commands.
#include "command.h"
#include "commands_list.h"

namespace jbbtool {

extern const Command kTraceCommand;

const Command kCommands[] = {
    kCheckCommand,
    kStatsCommand,
    kDumpCommand,
    kDiffCommand,
    kTraceCommand,
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace jbbtool
