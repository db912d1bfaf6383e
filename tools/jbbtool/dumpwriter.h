// Writes entries in the text format that `jbbgen --input` reads (its
// extensions for control areas, record bytes and awkward names are
// documented with the format in tools/jbbgen_input.h), or as JSON lines
// (schema jbbtool.dump/1, schema.h).  Output is UTF-8 whatever the locale,
// and holds no file name, size or time: dumps of equal journals are equal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "format.h"

namespace jbbtool {

class DumpWriter {
public:
    DumpWriter(FILE* out, bool json) : out_(out), json_(json) {}
    // The head: the journal control area (`area`, 2048 bytes; null when
    // there is none to give) and the records' length.
    void head(const uint8_t* area, uint16_t dataLen);
    void entry(const std::u16string& key, const uint8_t* data, uint16_t dataLen);
    bool failed() const { return std::ferror(out_) != 0; }

private:
    FILE* out_;
    bool json_;
};

// Name of a journal action for the entry line ("create", ...), or its
// number.
std::string actionWord(uint32_t action);

}  // namespace jbbtool
