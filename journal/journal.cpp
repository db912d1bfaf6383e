#include "journal.h"

#include <cstdio>
#include <cstring>

const char* actionName(uint32_t action, char* buf, size_t bufSize) {
    switch (action) {
        case actionRenameOld:
            return "Rename Old";
        case actionRenameNew:
            return "Rename New";
        case actionDelete:
            return "Delete";
        case actionCreate:
            return "Create";
        case actionChangeAttribute:
            return "Change Attribute";
        case actionModify:
            return "Modify";
        case actionDeleteRestore:
            return "Delete Restore";
        default:
            std::snprintf(buf, bufSize, "Type %d", (int)action);
            return buf;
    }
}

const char* objectTypeName(uint32_t objectType) { return objectType == objectFile ? "File" : "Directory"; }

journalRec journalRecFrom(const uint8_t* data, size_t len) {
    journalRec r;
    std::memset(&r, 0, sizeof r);
    if (len > 0) std::memcpy(&r, data, len < sizeof r ? len : sizeof r);
    return r;
}
