// The table of jbbtool's commands.
#include "command.h"

namespace jbbtool {

extern const Command kMsgcCommand, kMsgCommand;  // msgc.cpp, msg.cpp

const Command kCommands[] = {
    kMsgcCommand,
    kMsgCommand,
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace jbbtool
