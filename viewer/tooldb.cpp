#include "tooldb.h"

#include <cstdio>
#include <cstring>

#include "platform.h"

bool progressLabelPending = true;

void toolDB::attachJournalInfo() { journalInfoP = reinterpret_cast<journalInfo*>(cr.appArea); }

int toolDB::visitEntry(const char16_t* key, const uint8_t* data) {
    ++entryCount;
    uint32_t type = journalInfoP->journalType;
    if (type == journalChange) {
        printJournalRec(data, dataSize, key);
    } else if (type == journalIncrementalNeeded) {
        plat::outPrintf("\t%s\n", plat::outName(key).c_str());
    } else if (type != journalUnformatted) {
        plat::outPrintf("Unknown database type: %d\n", (int)type);
    }
    if (type == journalUnformatted) {
        // Counting mode: a progress count every 1000 entries, written over
        // the previous one with backspaces.
        if (progressLabelPending) {
            plat::outPrintf("DB Entries Processed:        ");
            progressLabelPending = false;
        }
        if (entryCount % 1000 == 0) {
            char digits[16];
            int n = std::snprintf(digits, sizeof digits, "%d", (int)entryCount);
            // As many backspaces as the count has digits (at most 11).
            plat::outPrintf("%.*s%s", n, "\b\b\b\b\b\b\b\b\b\b\b\b", digits);
            std::fflush(stdout);
        }
    }
    // An operator's Ctrl-C ends the walk at this entry.
    return plat::interruptRequested() ? 1 : 0;
}
