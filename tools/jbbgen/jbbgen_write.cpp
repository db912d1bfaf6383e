#include "jbbgen_write.h"

#include <cstdio>
#include <cstring>

#include "jbbtreev.h"
#include "platform.h"

namespace jbbgen {

namespace {

// The engine's handle, with access to the application area of the control
// record that the engine keeps in memory and writes back at close.
class GenDb : public bTree {
public:
    explicit GenDb(uint16_t dataLen) : bTree(dataLen, 0) {}
    void setJournalArea(const journalInfo& ji) {
        static_assert(sizeof ji == sizeof cr.appArea, "the journal control area fills the application area");
        std::memcpy(cr.appArea, &ji, sizeof ji);
    }
};

}  // namespace

journalInfo makeJournalArea(const Options& o) {
    journalInfo ji;
    std::memset(&ji, 0, sizeof ji);
    ji.journalType = o.journalType;
    ji.activationDate = o.activated;
    ji.validationDate = o.validated;
    ji.journalState = o.journalState;
    ji.maxJournalSize = o.maxSize;
    // Server bytes, node bytes, NUL; parseOptions made sure they fit.
    ji.serverNameLength = static_cast<uint8_t>(o.server.size());
    std::memcpy(ji.serverAndNode, o.server.data(), o.server.size());
    std::memcpy(ji.serverAndNode + o.server.size(), o.node.data(), o.node.size());
    // The file system name as UTF-16LE with its terminator (the area is
    // zero, so the terminator is already there).
    for (size_t i = 0; i < o.fileSystem.size(); ++i) {
        ji.fileSystemName[2 * i] = static_cast<uint8_t>(o.fileSystem[i] & 0xFF);
        ji.fileSystemName[2 * i + 1] = static_cast<uint8_t>(o.fileSystem[i] >> 8);
    }
    return ji;
}

std::string engineErrorText(int code) {
    const char* what = nullptr;
    switch (code) {
        case btErrNoMemory:
        case btErrNoMemoryErrno:
            what = "not enough memory";
            break;
        case btErrWrite:
            what = "write error";
            break;
        case btErrOpen:
            what = "cannot open the file";
            break;
        case btErrCorrupt:
            what = "the database is damaged";
            break;
        case btErrInvalid:
            what = "invalid request";
            break;
        default:
            break;
    }
    return "error " + std::to_string(code) + " (" + (what != nullptr ? what : plat::errnoText(code)) + ")";
}

JournalFile::JournalFile(uint16_t dataLen) : db_(new GenDb(dataLen)) {}

JournalFile::~JournalFile() {
    if (open_) abandon();
    delete db_;
}

bool JournalFile::create(const std::string& file, const std::string& name, const journalInfo& area, std::string* err) {
    GenDb& db = *static_cast<GenDb*>(db_);
    if (db.dbGetLastError() != 0) {
        *err = "cannot set up the database: " + engineErrorText(db.dbGetLastError());
        return false;
    }
    const int rc = db.openBtDb(file.c_str(), 1);
    if (rc != 0) {
        *err = "cannot create " + name + ": openBtDb() result " + std::to_string(rc) + ", " +
               engineErrorText(db.dbGetLastError());
        return false;
    }
    tempFile_ = file;
    name_ = name;
    open_ = true;
    db.setJournalArea(area);
    if (db.WriteCtrlRec() != 0) {
        *err = "cannot write the control record of " + name + ": " + engineErrorText(db.dbGetLastError());
        abandon();
        return false;
    }
    return true;
}

int JournalFile::insert(const char16_t* key, const uint8_t* rec, std::string* err) {
    const int result = db_->Insert(key, rec);
    if (result == 0 || result == 1) return result;
    *err = engineErrorText(db_->dbGetLastError());
    return -1;
}

bool JournalFile::close(std::string* err) {
    int rc = 0;
    db_->closeBtDb(&rc, 0);
    open_ = false;
    if (rc == 0) return true;
    std::remove(tempFile_.c_str());
    *err = "cannot close " + name_ + ": closeBtDb() result " + std::to_string(rc) + ", " +
           engineErrorText(db_->dbGetLastError());
    return false;
}

void JournalFile::abandon() {
    if (!open_) return;
    db_->closeBtDb(nullptr, 1);
    open_ = false;
    std::remove(tempFile_.c_str());
}

}  // namespace jbbgen
