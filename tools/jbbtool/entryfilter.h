// Which entries a dump writes: those whose name begins with a prefix,
// whose inserted time lies in [since, until), whose action is one of a
// list and whose object type is one of a list, all of these at once; each
// left unset lets every entry through.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jbbtool {

struct EntryFilter {
    bool hasPrefix = false;
    std::u16string prefix;
    bool hasSince = false, hasUntil = false;
    int64_t since = 0, until = 0;  // until is the first time left out
    std::vector<uint32_t> actions, types;

    // The filter lets every entry through.
    bool empty() const { return !hasPrefix && !hasSince && !hasUntil && actions.empty() && types.empty(); }
    // The entry with the key of `units` UTF-16LE units at `key` (any
    // alignment) and the `dataLen`-byte record at `data` passes.
    bool matches(const uint8_t* key, uint32_t units, const uint8_t* data, uint16_t dataLen) const;
    // The key comes after every key that begins with the prefix: a walk in
    // key order can stop there.
    bool pastPrefix(const uint8_t* key, uint32_t units) const;
};

// The filter of dump's options --prefix, --since, --until, --action and
// --type as given (an empty string or list: not given).  Returns -1 when
// they are sound, else kExitUsage after reporting the usage error for
// `command`.
int parseEntryFilter(const char* command, const std::string& prefix, const std::string& since, const std::string& until,
                     const std::vector<std::string>& actions, const std::vector<std::string>& types, EntryFilter* out);

}  // namespace jbbtool
