// dump --salvage: entries recovered from every slot of a damaged file.
#pragma once

#include <cstdint>

#include "dbimage.h"
#include "dumpwriter.h"

namespace jbbtool {

// What salvage hands on: the head first (the journal control area, null
// when the control record is damaged, and the records' length), then each
// entry in key order (its key as `units` UTF-16LE units at any alignment).
class SalvageSink {
public:
    virtual ~SalvageSink() = default;
    virtual void head(const uint8_t* area, uint16_t dataLen) = 0;
    virtual void entry(const uint8_t* key, uint32_t units, const uint8_t* data, uint16_t dataLen) = 0;
};

// Reads every slot of `db` directly, trusting no control-record field,
// and hands every soundly parsed entry in key order to `out`.  Reports on
// standard error, each line beginning "jbbtool WHO: FILE: ", what it
// dropped and why.  Returns an exit status: 0 nothing dropped, 1 something
// dropped, 2 a read error.
int salvageEntries(DbImage& db, SalvageSink& out, const char* who);

// The same, written through `w` as dump --salvage writes it.
int salvageEntries(DbImage& db, DumpWriter& w);

}  // namespace jbbtool
