// The handle's construction, its small accessors, and the control record:
// the probe that reads it without opening the database, and its writing.
#include <cstring>

#include "engine_internal.h"
#include "platform.h"

using namespace btdetail;

bTree::bTree(uint16_t dataSizeArg, uint16_t /*keyLen: keys are always of variable length*/) : dataSize(dataSizeArg) {
    BT_TRACE("btree::btree(): entry, specified data size = %d.\n", (int)dataSizeArg);
    std::memset(&cr, 0, sizeof cr);
    cr.dbMagic = dbMagicNumber;
    cr.dbVersMaj = dbVersionMajor;
    cr.dbVersMin = dbVersionMinor;
    BT_TRACE(
        "btree::btree(): btree database configuration:\n    Key length:            variable\n"
        "    data size            = %d bytes\n    # slots per disknode = %d\n"
        "    diskNodeBaseSize     = %d\n    sizeof(ctrlInfo)     = %d\n",
        (int)dataSize, maxDatumsPerNode, (int)diskNodeBaseSize, (int)sizeof(nodeInfo));
    dataBuf = static_cast<uint8_t*>(BT_CALLOC(1, dataSize));
    if (dataBuf == nullptr) {
        dbErrno = btErrNoMemory;
        BT_ERROR("btree(): base constructor failed - Memory allocation error.\n");
    }
    BT_TRACE("btree::btree(): Exit, dbErrno=%d.\n", dbErrno);
}

void bTree::SetDbErrno(int code) {
    BT_TRACE("SetDbErrno(): Entry, errCode = %d.\n", code);
    dbErrno = code;
    BT_TRACE("SetDbErrno(): dbErrno set to %d.\n", dbErrno);
}

int bTree::dbGetLastError() {
    BT_TRACE("dbGetLastError(): Entry.\n");
    BT_TRACE("dbGetLastError(): returning %d .\n", dbErrno);
    return dbErrno;
}

int64_t bTree::dbSize() {
    BT_TRACE("dbSize(): Entry.\n");
    int64_t size = 0;
    if (dbFileName == nullptr || !plat::fileSize(dbFileName, &size)) size = 0;
    BT_TRACE("dbSize(): returning %lld .\n", (long long)size);
    return size;
}

const char* mapNodeStateStr(int state) {
    BT_TRACE("mapNodeStateStr(): entry, state=%d.\n", state);
    static const char* const names[] = {"newIX", "available", "empty", "occupied", "clean", "modified", "modhold"};
    if (state < 0 || state > 6) return "unknown";
    return names[state];
}

int bTree::streamErrno() const { return errno != 0 ? errno : btErrShortTransfer; }

int bTree::WriteCtrlRec() {
    int rc = 0;
    if (dbHandle == nullptr) {
        BT_ERROR("WriteCtrlRec(): NULL dbHandle .\n");
        dbErrno = btErrInvalid;
        rc = -1;
    } else {
        BT_TRACE("WriteCtrlRec(): dbState: %s, currentIXCount: %d, lastIndex: %d\n", dbStateName(cr.dbState),
                 (int)cr.currentIXCount, (int)cr.lastIndex);
        errno = 0;
        if (dbHandle->writeAt(0, &cr, sizeof cr) != (int64_t)sizeof cr) {
            dbErrno = streamErrno();
            BT_ERROR("WriteCtrlRec(): fwrite: errno %d: \"%s\".\n", dbErrno, plat::errnoText(dbErrno).c_str());
            rc = -1;
        }
    }
    BT_TRACE("WriteCtrlRec(): returning %d .\n", rc);
    return rc;
}

int btDbReadCtrlRec(const char16_t* name, void* buffer) {
    BT_TRACE("btDbReadCtrlRec(): Entry.\n");
    int rc = 0;
    char narrow[1280];
    if (name == nullptr || name[0] == 0 || buffer == nullptr) {
        BT_ERROR("btDbReadCtrlRec(): NULL or empty string specified.\n");
        rc = -1;
    } else {
        std::memset(buffer, 0, ctrlRecSize);
        if (!plat::utf16ToNarrow(narrow, sizeof narrow, name)) {
            // The name cannot be expressed for the run-time's open call, or
            // is longer than the name buffer: refused like a missing name.
            BT_ERROR("btDbReadCtrlRec(): NULL or empty string specified.\n");
            rc = -1;
        }
    }
    if (rc == 0) {
        BT_TRACE("btDbReadCtrlRec(): Opening db file '%s' ...\n", narrow);
        errno = 0;
        // Opened for update, as the journal service opens it: a file the
        // user may not write is reported as unopenable.
        plat::DbFile* f = plat::DbFile::open(narrow, plat::DbFile::Mode::Existing);
        if (f == nullptr) {
            if (errno == ENOENT) {
                BT_TRACE("btDbReadCtrlRec(): Specified file doesn't exist.\n");
                rc = btErrNotFound;
            } else {
                int e = errno;
                BT_ERROR("btDbReadCtrlRec(): fopen: errno: %d, \"%s\".\n", e, plat::errnoText(e).c_str());
                rc = btErrOpen;
            }
        } else {
            errno = 0;
            int64_t n = f->readAt(0, buffer, ctrlRecSize);
            if (n < (int64_t)ctrlRecSize) {
                if (n > 0) std::memset(static_cast<uint8_t*>(buffer) + n, 0, ctrlRecSize - (size_t)n);
                int e = errno;
                BT_ERROR("btDbReadCtrlRec(): fread: errno: %d, \"%s\".\n", e, plat::errnoText(e).c_str());
                rc = btErrReadCtrlRec;
            } else {
                ctrlRec rec;
                std::memcpy(&rec, buffer, sizeof rec);
                BT_TRACE(
                    "btDbReadCtrlRec(): Read %d byte btree control record:\n  magic number     = %04x\n"
                    "  db state         = %s\n  version          = %d.%d\n  root offset      = %d\n"
                    "  index array size = %d\n  currentIXCount   = %d\n  lastIndex        = %d\n"
                    "  lastNDRec        = %lld\n  dbKeyLen         = %d\n  dbDataLen        = %d\n\n",
                    (int)ctrlRecSize, rec.dbMagic, dbStateName(rec.dbState), rec.dbVersMaj, rec.dbVersMin,
                    (int)rec.rootOffset, (int)rec.indexArraySize, (int)rec.currentIXCount, (int)rec.lastIndex,
                    (long long)rec.lastNDRec, rec.dbKeyLen, rec.dbDataLen);
                if (rec.dbMagic != dbMagicNumber) {
                    BT_ERROR(
                        "btDbReadCtrlRec(): Corrupt btree control record detected, expected magic "
                        "number %04x, read %04x .\n",
                        dbMagicNumber, rec.dbMagic);
                    rc = btErrBadCtrlRec;
                } else if (rec.dbState == dbCorrupt) {
                    BT_ERROR("btDbReadCtrlRec(): database is in corrupted state.\n");
                    rc = btErrCorrupt;
                } else if (rec.dbVersMaj != dbVersionMajor || rec.dbVersMin != dbVersionMinor) {
                    BT_ERROR("btDbReadCtrlRec(): Downlevel db or base format change .\n");
                    rc = btErrFormatChanged;
                }
            }
            delete f;
        }
    }
    BT_TRACE("btDbReadCtrlRec(): returning %d .\n", rc);
    return rc;
}
