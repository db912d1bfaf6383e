#include "schemacheck.h"

#include "platform.h"
#include "viewrun.h"

namespace testdb {

SchemaCheck validateJson(const std::string& schemaFile, const std::vector<std::string>& docs,
                         const std::filesystem::path& workDir) {
    SchemaCheck c;
    if (plat::isWindows()) {
        c.report = "the schemas are validated in the Linux build: a Windows program cannot run /usr/bin/python3";
        return c;
    }
    std::vector<std::string> args = {JBB_JSON_VALIDATOR, schemaFile};
    args.insert(args.end(), docs.begin(), docs.end());
    RunResult r = runProgram("/usr/bin/python3", args, "", workDir);
    c.report = r.out + r.err;
    if (r.status == 3 || r.status == 127) {
        c.report = "no validator (tools/install-deps.sh installs python3-jsonschema): " + c.report;
        return c;
    }
    c.ran = true;
    c.valid = r.status == 0;
    return c;
}

}  // namespace testdb
