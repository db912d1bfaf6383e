// dump --salvage: entries recovered from every slot of a damaged file.
#pragma once

#include "dbimage.h"
#include "dumpwriter.h"

namespace jbbtool {

// Reads every slot of `db` directly, trusting no control-record field,
// and writes every soundly parsed entry in key order through `w`.
// Reports on standard error what it dropped and why.  Returns an exit
// status: 0 nothing dropped, 1 something dropped, 2 a read error.
int salvageEntries(DbImage& db, DumpWriter& w);

}  // namespace jbbtool
