// The table of jbbtool's commands.
#include "command.h"

namespace jbbtool {

extern const Command kTraceCommand;

const Command kCommands[] = {
    kTraceCommand,
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace jbbtool
