// jbbtool COMMAND [OPTIONS] [FILE...]: the administrator's tool for journal
// databases and the support library's files.  This file only dispatches:
// every command is in a file of its own (see commands.cpp).
#include <cstdio>
#include <cstring>

#include <string>

#include "command.h"
#include "platform.h"
#include "traceargs.h"

namespace {

using jbbtool::Command;
using jbbtool::kCommands;

// The usage text, on standard output (`jbbtool --help`) or standard error.
void printUsage(FILE* out) {
    std::string text =
        "Usage: jbbtool COMMAND [OPTIONS] [FILE...] [TRACE OPTIONS]\n"
        "       jbbtool COMMAND --help\n"
        "       jbbtool --help | --version\n"
        "\n"
        "Checks, measures, dumps and salvages journal databases (named with their\n"
        "extension, NAME.jbbdb) without changing them, and works with the support\n"
        "library's trace files and message repositories.\n"
        "\n"
        "Commands:\n";
    for (const Command* c = kCommands; c->name != nullptr; ++c) {
        char line[256];
        std::snprintf(line, sizeof line, "  %-10s %s\n", c->name, c->summary);
        text += line;
    }
    text +=
        "\n"
        "Files: check and stats take one or more files (FILE...) and report on each\n"
        "in turn; dump takes one FILE, diff two (A B), schema one NAME, get one\n"
        "FILE and the names to look up.  Files are named with their extension; a\n"
        "name without it that does not exist, when NAME.jbbdb does, gets the hint\n"
        "'No such file; did you mean NAME.jbbdb?'.\n"
        "\n";
    text += traceargs::helpText();
    text +=
        "  Which commands trace: msg traces the message library under class NLS\n"
        "  and its memory under MEMORY, as a program that uses the library does.\n"
        "  check, stats, dump, diff and get read database files with jbbtool's own\n"
        "  reader, not the engine, and write no trace lines of their own (nor do\n"
        "  msgc, schema and trace): their trace holds only its header lines.\n"
        "\n"
        "Exit status: 0 sound, 1 findings (damage, differences), 2 usage or I/O\n"
        "error; of several files the worst.\n";
    if (out == stdout)
        plat::outWriteUtf8(text.data(), text.size());
    else
        std::fputs(text.c_str(), out);
}

const Command* findCommand(const char* name) {
    for (const Command* c = kCommands; c->name != nullptr; ++c) {
        if (std::strcmp(c->name, name) == 0) return c;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    // Every file name is reachable on Windows only through the wide command
    // line; jbbtool's text, names included, is UTF-8 on every platform.
    plat::useUtf8Arguments(&argc, &argv);
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
        plat::outPrintfUtf8("jbbtool %s\n", JBB_TOOL_VERSION);
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
    const int status = c->run(argc - 1, argv + 1);
    plat::outFlush();
    return status;
}
