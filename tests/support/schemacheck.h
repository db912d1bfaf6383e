// Validating jbbtool's JSON output against the schemas `jbbtool schema`
// prints: validate_json.py (beside this file), run by /usr/bin/python3 with
// Debian's python3-jsonschema, checks the schema and every line of the
// documents, strictly (see the script).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testdb {

struct SchemaCheck {
    bool ran = false;    // false: no validator here, `report` says why
    bool valid = false;  // every document valid
    std::string report;  // what the validator printed
};

// Checks `schemaFile` and each line of each of `docs` against it; runs in
// `workDir`.  Does not run in a Windows build (its programs cannot start
// the Linux interpreter).
SchemaCheck validateJson(const std::string& schemaFile, const std::vector<std::string>& docs,
                         const std::filesystem::path& workDir);

}  // namespace testdb
