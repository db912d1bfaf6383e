#include "entryfilter.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "command.h"
#include "jbbgen_text.h"
#include "journal.h"
#include "keyorder.h"
#include "keytext.h"
#include "textout.h"

namespace jbbtool {

namespace {

bool beginsWith(const uint8_t* key, uint32_t units, const std::u16string& prefix) {
    if (units < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (keyunits::load1(key + 2 * i) != (uint16_t)prefix[i]) return false;
    return true;
}

// A time as an ISO 8601 date (midnight UTC) or date and time in UTC, or as
// seconds since 1970.
bool parseUtc(const std::string& text, int64_t* out) {
    if (text.size() == 10 && text[4] == '-') return jbbgen::parseTime(text + "T00:00:00", out);
    return jbbgen::parseTime(text, out);
}

// The codes `words` name: each a word that `wordOf` gives for some code
// up to `last`, or a number.
bool parseCodes(const std::vector<std::string>& words, const char* (*wordOf)(uint32_t), uint32_t last,
                std::vector<uint32_t>* out, std::string* bad) {
    std::vector<std::pair<const char*, uint32_t>> names;
    for (uint32_t code = 0; code <= last; ++code)
        if (const char* w = wordOf(code)) names.emplace_back(w, code);
    for (const std::string& w : words) {
        uint32_t code;
        if (!jbbgen::parseKeywordOrNumber(w, names, &code)) {
            *bad = w;
            return false;
        }
        out->push_back(code);
    }
    return true;
}

}  // namespace

bool EntryFilter::matches(const uint8_t* key, uint32_t units, const uint8_t* data, uint16_t dataLen) const {
    if (hasPrefix && !beginsWith(key, units, prefix)) return false;
    if (!hasSince && !hasUntil && actions.empty() && types.empty()) return true;
    const journalRec r = journalRecFrom(data, dataLen);
    if (hasSince && r.insertedTime < since) return false;
    if (hasUntil && r.insertedTime >= until) return false;
    if (!actions.empty() && std::find(actions.begin(), actions.end(), r.action) == actions.end()) return false;
    if (!types.empty() && std::find(types.begin(), types.end(), r.objectType) == types.end()) return false;
    return true;
}

bool EntryFilter::pastPrefix(const uint8_t* key, uint32_t units) const {
    return hasPrefix && !beginsWith(key, units, prefix) &&
           compareKeyUnits(key, units, reinterpret_cast<const uint8_t*>(prefix.data()), prefix.size()) > 0;
}

int parseEntryFilter(const char* command, const std::string& prefix, const std::string& since, const std::string& until,
                     const std::vector<std::string>& actions, const std::vector<std::string>& types, EntryFilter* out) {
    if (!prefix.empty()) {
        std::string why;
        if (!keyFromText(prefix, &out->prefix, &why)) return usageError(command, "--prefix: %s", why.c_str());
        out->hasPrefix = true;
    }
    if (!since.empty() && !(out->hasSince = parseUtc(since, &out->since)))
        return usageError(command, "--since: expected a UTC time such as 2024-03-01 or 2024-03-01T12:00:00Z, not '%s'",
                          since.c_str());
    if (!until.empty() && !(out->hasUntil = parseUtc(until, &out->until)))
        return usageError(command, "--until: expected a UTC time such as 2024-03-01 or 2024-03-01T12:00:00Z, not '%s'",
                          until.c_str());
    std::string bad;
    if (!parseCodes(actions, actionText, 255, &out->actions, &bad))
        return usageError(command, "--action: expected an action's name (create, delete, ...) or number, not '%s'",
                          bad.c_str());
    if (!parseCodes(types, objectTypeWord, 255, &out->types, &bad))
        return usageError(command, "--type: expected file, directory or a number, not '%s'", bad.c_str());
    return -1;
}

}  // namespace jbbtool
