// A journal database recognised by its first bytes (the control record's
// magic): what jbbgen --force may replace, and what no other program takes
// for a file of its own kind.
#pragma once

#include <string>

#include "safeoutput.h"

// True when `head`, a file's first bytes, begins with a journal's control
// record magic.
bool startsLikeJournal(const std::string& head);

extern const OutputKind kJournalKind;
