// After the control-record report: the open-state report for a database
// its service holds open, or open, counting walk, journal report and close,
// followed by the just-created question or the request loop.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "format.h"
#include "journal_report.h"
#include "platform.h"
#include "tooldb.h"
#include "viewer.h"

namespace {

// The database of one run and the Ctrl-C handling around it, ended in one
// place: the database is closed (writing the nodes that deletions changed
// only when asked), the handler removed and the handle freed, by end() or
// else when the run leaves.
class Session {
public:
    explicit Session(toolDB* db) : db_(db) {}
    ~Session() { end(false); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    toolDB* db() const { return db_; }
    void end(bool writeChanges) {
        if (db_ == nullptr) return;
        db_->closeBtDb(nullptr, writeChanges ? 0 : 1);
        plat::removeInterruptHandler();
        delete db_;
        db_ = nullptr;
    }

private:
    toolDB* db_;
};

// Ends a run that was interrupted while the database was open: the walk's
// journal type is put back before the control record is written.
int closeInterrupted(Session& session, uint32_t savedType) {
    toolDB* db = session.db();
    if (db->journalInfoP != nullptr) db->journalInfoP->journalType = savedType;
    session.end(false);
    plat::outPrintf("\n\nInterrupted: counting stopped, the database was closed unchanged.\n");
    return -1;
}

// Asks whether a database that was never set up as a journal is to be
// kept.  An empty one (no entries) is kept only on an answer beginning
// with Y.  One whose tree holds entries is no fresh file but one whose
// type was lost (an interrupted counting walk, damage), and deleting it
// would lose every entry: it is deleted only on an answer beginning with
// N, so that an empty line or a name that a script meant for the next run
// keeps it.  With no answer at all (end of input) nothing is deleted.
int askJustCreated(const char* path, uint32_t entries) {
    plat::outPrintf("This database is in \"just-created\" state, do you want to keep it (Y/N)? ");
    std::fflush(stdout);
    char line[1024];
    if (std::fgets(line, sizeof line, stdin) == nullptr) {
        plat::outPrintf("\nNo answer was read; the database was kept.\n");
        return 0;
    }
    const int first = std::toupper((unsigned char)line[0]);
    const bool remove = entries == 0 ? first != 'Y' : first == 'N';
    if (remove) std::remove(path);
    return 0;
}

}  // namespace

int openCountAndClose(const char* path, const char* dbName, const uint8_t* record, bool interactive) {
    ctrlRec image;
    std::memcpy(&image, record, sizeof image);
    if (image.dbState == dbOpened) {
        int64_t size = 0;
        if (!plat::fileSize(path, &size)) size = 0;
        plat::outPrintf(
            "\n\nThe specified database is currently in the open state.\n\n"
            "Only control record information can be displayed.\n\n");
        printJournalInfo(image.dbVersMaj, image.dbVersMin, reinterpret_cast<const journalInfo*>(image.appArea),
                         0xFFFFFFFFu, image.dbKeyLen, image.dbDataLen, dbName, (uint64_t)size);
        return 0;
    }

    plat::outPrintf("Opening and Intializing DB ...\n");
    plat::installInterruptHandler();
    Session session(new toolDB(image.dbDataLen, image.dbKeyLen / 2));
    toolDB* db = session.db();
    // The viewer inspects a journal; it never creates, truncates or resets one.
    db->setOpenExistingOnly(true);
    int rc = db->openBtDb(path, 0);
    if (rc != 0) {
        session.end(false);
        plat::outPrintf("\n\nUnable to open Journal Database file '%s', rc=%d\n\n", path, rc);
        return -1;
    }
    db->attachJournalInfo();
    journalInfo* info = db->journalInfoP;
    const ctrlRec& cr = db->controlRecord();
    if (plat::interruptRequested()) return closeInterrupted(session, info->journalType);

    plat::outPrintf("\nCounting Database Entries (walking thru entire db) ...\n\n");
    uint32_t savedType = info->journalType;
    info->journalType = journalUnformatted;  // counting mode
    db->entryCount = 0;
    long start = plat::clockMs();
    int walkRc = db->WalkTree();
    long end = plat::clockMs();
    if (plat::interruptRequested()) return closeInterrupted(session, savedType);
    if (walkRc != 0) {
        int err = db->dbGetLastError();
        plat::outPrintf("Initial database scan failed: errno = %d, \"%s\"\n", err, plat::errnoText(err).c_str());
        info->journalType = savedType;
        session.end(false);
        return -1;
    }
    info->journalType = savedType;
    int64_t size = db->dbSize();
    printJournalInfo(cr.dbVersMaj, cr.dbVersMin, info, db->entryCount, cr.dbKeyLen, cr.dbDataLen, dbName,
                     (uint64_t)size);
    char elapsed[32];
    plat::outPrintf("\nTotal DB Walk Time   : %s\n\n", formatElapsed(elapsed, start, end));

    if (info->journalType == journalUnformatted) {
        // Closed before the question: the answer may remove the file.
        const uint32_t entries = db->entryCount;
        session.end(false);
        return askJustCreated(path, entries);
    }
    if (!interactive) return 0;
    bool interrupted = runRequestLoop(db);
    // Nodes that deletions changed are written before the record is closed.
    session.end(true);
    if (interrupted) {
        plat::outPrintf("\n\nInterrupted: the database was closed.\n");
        return -1;
    }
    return 0;
}
