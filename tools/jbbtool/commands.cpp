// The table of jbbtool's commands.
#include "command.h"

namespace jbbtool {

const Command kCommands[] = {
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace jbbtool
