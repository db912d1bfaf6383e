// jbbtool's commands.  Each command lives in a file of its own and is
// listed once in commands.cpp; main.cpp finds it by name and hands it the
// arguments that follow the command word.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "printf_like.h"

namespace jbbtool {

class DbImage;

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
int usageError(const char* command, const char* fmt, ...) JBB_PRINTF_LIKE(2, 3);

// True when ARG is "--help" or "-h".
bool isHelpFlag(const char* arg);

// One option of a command: a flag (`flag` set) or an option with a value
// (`value` set), given as "--name VALUE" or "--name=VALUE"; one that may be
// given more than once (`values` set) collects each value in turn.
struct OptionSpec {
    const char* name;
    bool* flag;
    std::string* value;
    std::vector<std::string>* values = nullptr;
};

// Parses argv[1..argc-1] of a command into its options and operands ("--"
// ends the options).  Returns -1 when the command is to run, else the exit
// status after a usage error that it has reported (an unknown option, a
// value missing or given to a flag, or a number of operands outside
// minOperands..maxOperands).
int parseCommandLine(const char* command, int argc, char** argv, std::initializer_list<OptionSpec> specs,
                     size_t minOperands, size_t maxOperands, std::vector<std::string>* operands);

// The extension of a journal database's file name.
constexpr const char* kJournalExtension = ".jbbdb";

// Opens `path` for jbbtool's `command`: a file that cannot be opened is
// reported on standard error ("jbbtool COMMAND: reason"; when `path` does
// not exist and `path`.jbbdb does, "jbbtool COMMAND: PATH: No such file;
// did you mean PATH.jbbdb?"), and one marked
// open is said to be so (the journal service holds it, or did not close
// it), since what is read may be changing.  False when it cannot be opened.
bool openForCommand(const char* command, const std::string& path, DbImage* db);

}  // namespace jbbtool
