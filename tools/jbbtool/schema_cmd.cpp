// jbbtool schema NAME: the JSON Schema of a JSON output (schema.h), for
// validating what check, stats, dump and diff write with --json.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "commands_list.h"
#include "schema.h"

namespace jbbtool {

namespace {

int runSchema(int argc, char** argv) {
    std::vector<std::string> names;
    int rc = parseCommandLine("schema", argc, argv, {}, 0, SIZE_MAX, &names);
    if (rc >= 0) return rc;
    if (names.size() != 1)
        return usageError("schema", "expected one name (check, stats, dump, diff or info), found %zu", names.size());
    for (const JsonSchemaText& s : kJsonSchemas) {
        if (names[0] != s.name) continue;
        std::printf("%s\n", s.text);
        return kExitSound;
    }
    return usageError("schema", "no schema named '%s' (check, stats, dump, diff or info)", names[0].c_str());
}

void helpSchema(FILE* out) {
    std::fputs(
        "Usage: jbbtool schema NAME\n"
        "\n"
        "Writes the JSON Schema (draft 2020-12) of a JSON output of jbbtool:\n"
        "  check   jbbtool check --json (a document per file, jbbtool.check/3)\n"
        "  stats   jbbtool stats --json (a document per file, jbbtool.stats/2)\n"
        "  dump    jbbtool dump --json (JSON lines, jbbtool.dump/1; the schema\n"
        "          validates each line)\n"
        "  diff    jbbtool diff --json (JSON lines, jbbtool.diff/1; the schema\n"
        "          validates each line)\n"
        "  info    jbbtool info --json (a document per file, jbbtool.info/1)\n"
        "A version changes only when a member is removed or changes meaning, or a\n"
        "code is added; new members may come without one, so the schemas allow\n"
        "members they do not list.\n"
        "\n"
        "Exit status: 0, 2 usage error.\n",
        out);
}

}  // namespace

const Command kSchemaCommand = {"schema", "write the JSON Schema of a --json output", runSchema, helpSchema};

}  // namespace jbbtool
