// jbbtool COMMAND [OPTIONS] [FILE...]: the administrator's tool for journal
// databases and the support library's files.  This file only dispatches:
// every command is in a file of its own (see commands.cpp).
#include <cstdio>
#include <cstring>

#include <string>

#include "command.h"
#include "traceargs.h"

namespace {

using jbbtool::Command;
using jbbtool::kCommands;

void printUsage(FILE* out) {
    std::fprintf(out,
                 "Usage: jbbtool COMMAND [OPTIONS] [FILE...]\n"
                 "       jbbtool COMMAND --help\n"
                 "       jbbtool --help | --version\n"
                 "\n"
                 "Checks, measures, dumps and salvages journal databases (named with their\n"
                 "extension, NAME.jbbdb) without changing them, and works with the support\n"
                 "library's trace files and message repositories.\n"
                 "\n"
                 "Commands:\n");
    for (const Command* c = kCommands; c->name != nullptr; ++c) {
        std::fprintf(out, "  %-10s %s\n", c->name, c->summary);
    }
    std::fprintf(out,
                 "\n"
                 "Exit status: 0 sound, 1 findings (damage, differences), 2 usage or I/O error.\n");
}

const Command* findCommand(const char* name) {
    for (const Command* c = kCommands; c->name != nullptr; ++c) {
        if (std::strcmp(c->name, name) == 0) return c;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    traceargs::Settings trace;
    std::string traceError;
    if (!traceargs::extract(&argc, argv, &trace, &traceError) || !traceargs::start(trace, &traceError)) {
        std::fprintf(stderr, "jbbtool: %s\n", traceError.c_str());
        return jbbtool::kExitUsage;
    }
    if (argc < 2) {
        printUsage(stderr);
        return jbbtool::kExitUsage;
    }
    const char* word = argv[1];
    if (jbbtool::isHelpFlag(word)) {
        printUsage(stdout);
        return jbbtool::kExitSound;
    }
    if (std::strcmp(word, "--version") == 0) {
        std::printf("jbbtool %s\n", JBB_TOOL_VERSION);
        return jbbtool::kExitSound;
    }
    if (std::strcmp(word, "help") == 0) {
        if (argc < 3) {
            printUsage(stdout);
            return jbbtool::kExitSound;
        }
        const Command* c = findCommand(argv[2]);
        if (c == nullptr) {
            std::fprintf(stderr, "jbbtool: unknown command '%s'\nTry 'jbbtool --help'.\n", argv[2]);
            return jbbtool::kExitUsage;
        }
        c->help(stdout);
        return jbbtool::kExitSound;
    }
    const Command* c = findCommand(word);
    if (c == nullptr) {
        std::fprintf(stderr, "jbbtool: unknown command '%s'\nTry 'jbbtool --help'.\n", word);
        return jbbtool::kExitUsage;
    }
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) break;
        if (jbbtool::isHelpFlag(argv[i])) {
            c->help(stdout);
            return jbbtool::kExitSound;
        }
    }
    return c->run(argc - 1, argv + 1);
}
