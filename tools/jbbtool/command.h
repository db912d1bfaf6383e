// jbbtool's commands.  Each command lives in a file of its own and is
// listed once in commands.cpp; main.cpp finds it by name and hands it the
// arguments that follow the command word.
#pragma once

#include <cstdio>

namespace jbbtool {

// Exit statuses shared by every command.
enum ExitStatus : int {
    kExitSound = 0,     // the command ran and found nothing wrong
    kExitFindings = 1,  // the command ran and has findings (damage, differences)
    kExitUsage = 2,     // bad command line, or a file that could not be read
};

struct Command {
    const char* name;
    const char* summary;  // one line for `jbbtool --help`
    // Runs the command: argv[0] is the command word, argv[1..argc-1] its
    // options and operands.  Returns one of ExitStatus.
    int (*run)(int argc, char** argv);
    // Writes the command's own help text (`jbbtool COMMAND --help`).
    void (*help)(FILE* out);
};

// The commands in the order `jbbtool --help` lists them; ends with a
// Command whose name is null.
extern const Command kCommands[];

// "jbbtool COMMAND: what went wrong" on standard error, then a pointer to
// the command's help; returns kExitUsage.
int usageError(const char* command, const char* fmt, ...)
#if defined(__clang__)
    __attribute__((format(printf, 2, 3)));
#else
    __attribute__((format(gnu_printf, 2, 3)));
#endif

// True when ARG is "--help" or "-h".
bool isHelpFlag(const char* arg);

}  // namespace jbbtool
