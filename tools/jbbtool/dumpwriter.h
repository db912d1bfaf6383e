// Writes entries in the text format that `jbbgen --input` reads (its
// extensions for control areas, record bytes and awkward names are
// documented with the format in tools/jbbgen_input.h), or as JSON lines
// (schema jbbtool.dump/1, schema.h).  Output is UTF-8 whatever the locale,
// and holds no file name, size or time: dumps of equal journals are equal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "entryfilter.h"
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
    // From now on, writes only the entries that `filter` lets through
    // (null: every entry), and with `countOnly` neither them nor the head:
    // matched() counts them.  The filter must outlive the writer's use.
    void setFilter(const EntryFilter* filter, bool countOnly) {
        filter_ = filter != nullptr && !filter->empty() ? filter : nullptr;
        countOnly_ = countOnly;
    }
    uint64_t matched() const { return matched_; }
    // Writes out what is buffered; false when the output failed.
    bool flush();
    bool failed() const { return failed_; }

private:
    void text(const std::string& s) { buf_.append(s); }
    void entryJson(const std::u16string& key, const uint8_t* data, uint16_t dataLen);
    bool json_;
    bool failed_ = false;
    const EntryFilter* filter_ = nullptr;
    bool countOnly_ = false;
    uint64_t matched_ = 0;
    std::string buf_;  // written out in pieces of about kFlushBytes
    static constexpr size_t kFlushBytes = 256u << 10;
};

// The name field of an entry line as the dump writes it: the key as
// UTF-8, a control character (a tab and the line ends among them) shown as
// U+FFFD and an empty key as "-"; `keyLine` gets the "%key HEX" line (with
// its line end) that must go before the line when the field cannot carry
// the key (a control character, an unpaired surrogate, an empty key), else
// it is cleared.
std::string nameField(const std::u16string& key, std::string* keyLine);

// Name of a journal action for the entry line ("create", ...), or its
// number.
std::string actionWord(uint32_t action);

}  // namespace jbbtool
