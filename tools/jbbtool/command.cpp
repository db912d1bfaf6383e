// What every command shares: the usage error, the help flag, the command
// line and the opening of a database file.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"
#include "dbimage.h"
#include "platform.h"

namespace jbbtool {

bool isHelpFlag(const char* arg) { return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0; }

int usageError(const char* command, const char* fmt, ...) {
    std::fprintf(stderr, "jbbtool %s: ", command);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fprintf(stderr, "\nTry 'jbbtool %s --help'.\n", command);
    return kExitUsage;
}

int parseCommandLine(const char* command, int argc, char** argv, std::initializer_list<OptionSpec> specs,
                     size_t minOperands, size_t maxOperands, std::vector<std::string>* operands) {
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsDone || arg.size() < 2 || arg[0] != '-') {
            operands->push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsDone = true;
            continue;
        }
        std::string value;
        bool hasValue = false;
        size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasValue = true;
        }
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& s : specs)
            if (arg == s.name) spec = &s;
        if (spec == nullptr) return usageError(command, "unknown option '%s'", arg.c_str());
        if (spec->flag != nullptr) {
            if (hasValue) return usageError(command, "option %s takes no value", arg.c_str());
            *spec->flag = true;
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= argc) return usageError(command, "option %s needs a value", arg.c_str());
            value = argv[++i];
        }
        if (value.empty()) return usageError(command, "option %s needs a value", arg.c_str());
        if (spec->values != nullptr)
            spec->values->push_back(value);
        else
            *spec->value = value;
    }
    if (operands->size() < minOperands || operands->size() > maxOperands) {
        if (minOperands == maxOperands)
            return usageError(command, "expected %zu file%s, found %zu", minOperands, minOperands == 1 ? "" : "s",
                              operands->size());
        if (maxOperands == SIZE_MAX)
            return usageError(command, "expected at least %zu file%s, found %zu", minOperands,
                              minOperands == 1 ? "" : "s", operands->size());
        return usageError(command, "expected %zu to %zu files, found %zu", minOperands, maxOperands, operands->size());
    }
    return -1;
}

namespace {

// The journal's name with the extension, when `path` names nothing and
// that name is a file: an administrator often gives the name without it,
// as jbbview takes it.  Empty otherwise.
std::string withExtension(const std::string& path) {
    int64_t size = 0;
    if (plat::fileSize(path.c_str(), &size) || plat::isDirectory(path.c_str())) return std::string();
    const std::string named = path + kJournalExtension;
    if (!plat::fileSize(named.c_str(), &size) || plat::isDirectory(named.c_str())) return std::string();
    return named;
}

}  // namespace

bool openForCommand(const char* command, const std::string& path, DbImage* db) {
    std::string err;
    if (!db->open(path, &err)) {
        const std::string hint = withExtension(path);
        if (!hint.empty())
            std::fprintf(stderr, "jbbtool %s: %s: No such file; did you mean %s?\n", command, path.c_str(),
                         hint.c_str());
        else
            std::fprintf(stderr, "jbbtool %s: %s\n", command, err.c_str());
        return false;
    }
    if (db->hasCtrl() && db->ctrl().dbState == dbOpened)
        std::fprintf(stderr,
                     "jbbtool %s: %s is marked open (dbOpened): the journal service may hold it, and what is "
                     "read may be changing\n",
                     command, db->path().c_str());
    return true;
}

}  // namespace jbbtool
