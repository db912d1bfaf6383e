// The command line, the banner, and the control-record report printed
// before the database is opened.
#include <cstdio>
#include <cstring>

#include "format.h"
#include "jbbtreev.h"
#include "journal_report.h"
#include "platform.h"
#include "viewer.h"
#include "widetext.h"

#ifndef JBB_BUILD_DATE
#define JBB_BUILD_DATE __DATE__
#endif

namespace {

constexpr size_t pathBufferBytes = 1280;
constexpr const char* dbExtension = ".jbbdb";

// The program name as the usage text shows it: the part of the command
// word after its last backslash, else after its last slash.
const char* baseName(const char* word) {
    const char* cut = std::strrchr(word, '\\');
    if (cut == nullptr) cut = std::strrchr(word, '/');
    return cut != nullptr ? cut + 1 : word;
}

void printProbeFailure(int rc, const char* path) {
    switch (rc) {
        case btErrNotFound:
            plat::outPrintf("\n\nSpecified database file '%s' not found. \n\n", path);
            break;
        case btErrReadCtrlRec:
            plat::outPrintf("\n\nError reading control record. \n\n");
            break;
        case btErrBadCtrlRec:
            plat::outPrintf("\n\nCorrupt database control record detected. \n\n");
            break;
        case btErrCorrupt:
            plat::outPrintf("\n\nCorrupt database detected. \n\n");
            break;
        case btErrOpen:
            plat::outPrintf("\n\nError opening database. \n\n");
            break;
        default:
            plat::outPrintf("\n\nError %d opening or reading database. \n\n", rc);
            break;
    }
}

}  // namespace

int viewerMain(int argc, char** argv) {
    plat::selectUserLocale();
    plat::outPrintf(
        "Quillstore\nJournal Database Viewing Utility\nVersion %d, Release %d, Level %d.%d %s\n"
        "Last Update: %s\n\n",
        6, 1, 1, 0, "090824B", JBB_BUILD_DATE);
    if (argc <= 1) {
        const char* name = baseName(argc == 1 && argv[0] != nullptr ? argv[0] : "jbbview");
        std::fflush(stdout);
        std::fprintf(stderr,
                     "\n\nView ZEP Journal Database \n\nUsage: %s jdbfile [i]\n\nSpecifiying i parameter will "
                     "enter interactive mode.\n\nExamples:\n\n%s c:\\zepjournal\\zepf__.jdb \n%s "
                     "c:\\zepjournal\\zepf__.jdb i\n\n",
                     name, name, name);
        return -1;
    }
    bool interactive = argc >= 3;
    const char* dbName = argv[1];
    if (std::strlen(dbName) + std::strlen(dbExtension) >= pathBufferBytes) {
        plat::outPrintf("\n\nDatabase name is too long: at most %d bytes are allowed.\n\n",
                        (int)(pathBufferBytes - 1 - std::strlen(dbExtension)));
        return -1;
    }
    char path[pathBufferBytes];
    std::snprintf(path, sizeof path, "%s%s", dbName, dbExtension);
    static char16_t widePath[wideTextUnits];
    strToWide(widePath, path);

    plat::outPrintf("\n\nReading control record for database '%s' ...", path);
    uint8_t record[ctrlRecSize];
    int rc = btDbReadCtrlRec(widePath, record);
    if (rc != 0) {
        printProbeFailure(rc, path);
        return -1;
    }
    ctrlRec cr;
    std::memcpy(&cr, record, sizeof cr);
    char keyBuf[64];
    plat::outPrintf(
        "\n\nLocated Database:\n   db  file      = '%s'\n   db  state     = %s\n   magic number  = 0x%04X\n"
        "   btree version = %d.%d\n   key length    = %s\n   data length   = %d Bytes\n\n",
        path,
        cr.dbState == dbOpened   ? "dbOpened"
        : cr.dbState == dbClosed ? "dbClosed"
                                 : "dbCorrupt",
        cr.dbMagic, cr.dbVersMaj, cr.dbVersMin, keyLengthText(cr.dbKeyLen / 2u, keyBuf, sizeof keyBuf), cr.dbDataLen);
    return openCountAndClose(path, dbName, record, interactive);
}
