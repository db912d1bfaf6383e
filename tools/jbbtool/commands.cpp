// The table of jbbtool's commands.
#include "command.h"
#include "commands_list.h"

namespace jbbtool {

extern const Command kTraceCommand;
extern const Command kMsgcCommand, kMsgCommand;  // msgc.cpp, msg.cpp

const Command kCommands[] = {
    kCheckCommand, kStatsCommand, kDumpCommand, kDiffCommand,    kSchemaCommand, kTraceCommand,
    kMsgcCommand,  kMsgCommand,   kInfoCommand, kRebuildCommand, kGetCommand,    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace jbbtool
