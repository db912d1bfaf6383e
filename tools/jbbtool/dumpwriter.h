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
#include "textout.h"

namespace jbbtool {

class DumpWriter {
public:
    // Writes to standard output (see plat::outWriteUtf8: a Windows console
    // gets the text through its wide-character output).
    explicit DumpWriter(bool json) : json_(json) {}
    ~DumpWriter() { flush(); }
    DumpWriter(const DumpWriter&) = delete;
    DumpWriter& operator=(const DumpWriter&) = delete;
    // The head: the journal control area (`area`, 2048 bytes; null when
    // there is none to give) and the records' length.
    void head(const uint8_t* area, uint16_t dataLen);
    // An entry whose key is `units` UTF-16LE units at `key` (any
    // alignment).
    void entry(const uint8_t* key, uint32_t units, const uint8_t* data, uint16_t dataLen);
    void entry(const std::u16string& key, const uint8_t* data, uint16_t dataLen);
    // Writes out what is buffered; false when the output failed.
    bool flush();
    bool failed() const { return failed_; }

private:
    void text(const std::string& s) { buf_.append(s); }
    void entryJson(const std::u16string& key, const uint8_t* data, uint16_t dataLen);
    bool json_;
    bool failed_ = false;
    std::string buf_;  // written out in pieces of about kFlushBytes
    static constexpr size_t kFlushBytes = 256u << 10;
};

// Name of a journal action for the entry line ("create", ...), or its
// number.
std::string actionWord(uint32_t action);

}  // namespace jbbtool
