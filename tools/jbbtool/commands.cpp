// The table of jbbtool's commands.
#include "command.h"
#include "commands_list.h"

namespace jbbtool {

const Command kCommands[] = {
    kCheckCommand,
    kStatsCommand,
    kDumpCommand,
    kDiffCommand,
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace jbbtool
