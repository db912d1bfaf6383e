// The viewer's main flow: command line, control-record report, then open,
// count, report and close (or the just-created question, or the request
// loop).
#pragma once

#include <cstdint>

#include "tooldb.h"

// The whole run; returns the exit status (0 or -1).
int viewerMain(int argc, char** argv);

// After the "Located Database" block: the open-state report, or open,
// counting walk, report and close.  `path` is the argument + ".jbbdb",
// `dbName` the argument itself, `record` the 2088-byte control record.
int openCountAndClose(const char* path, const char* dbName, const uint8_t* record, bool interactive);

// The interactive request loop on an open database; returns when the
// operator quits or standard input ends: true when an interrupt ended it.
bool runRequestLoop(toolDB* db);
