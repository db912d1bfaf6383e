// The interactive request loop: Find, List, Del and Quit, one request line
// at a time from standard input.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "journal_report.h"
#include "platform.h"
#include "requests.h"
#include "viewer.h"
#include "widetext.h"

namespace {

constexpr size_t requestLineBytes = 1024;

void printHelp() {
    plat::outPrintf("Enter request on a single line, in the following format:\n\n");
    plat::outPrintf("\t\tReq-Type [Entry-key]\n\n");
    plat::outPrintf(
        "Req-type may be one of the following:\n\tDel\tDelete a row from the database. The fully-qualified\n"
        "\t\tcase sensitive file name is required.\n\tFind\tFind the entry whose key is the argument\n"
        "\tList\tPrint all the entries to stdout. No arguments\n\t\tare required.\n\tQuit\n");
}

void deleteRequest(toolDB* db, const char16_t* key) {
    plat::outPrintf(
        "This operation can lead to a corrupted database if the journal daemon service is also running.\n\n"
        "Are you sure you want to delete this record?(y/n): ");
    std::fflush(stdout);
    int answer = std::getchar();
    if (answer == EOF || charToUpper((char)answer) != 'Y') return;
    long start = plat::clockMs();
    int rc = db->Delete(key);
    long end = plat::clockMs();
    std::string shown = plat::outName(key);
    if (rc == -1) {
        int err = db->dbGetLastError();
        plat::outPrintf("Deletion of key \"%s\" failed.\nerrno = %d, %s.\n", shown.c_str(), err,
                        plat::errnoText(err).c_str());
    } else if (rc == 1) {
        plat::outPrintf("Key %s not found in the database.\n", shown.c_str());
    } else {
        plat::outPrintf("Deletion of key \"%s\" completed.\n", shown.c_str());
    }
    char elapsed[32];
    plat::outPrintf("\nTotal Delete Time: %s\n\n", formatElapsed(elapsed, start, end));
}

void findRequest(toolDB* db, const char16_t* key) {
    // A stale error of an earlier request must not turn "not found" into a
    // search failure.
    db->SetDbErrno(0);
    long start = plat::clockMs();
    const uint8_t* data = db->Search(key);
    long end = plat::clockMs();
    std::string shown = plat::outName(key);
    if (data != nullptr) {
        uint8_t record[sizeof(journalRec)] = {};
        size_t n = db->recordLength() < sizeof record ? db->recordLength() : sizeof record;
        std::memcpy(record, data, n);
        plat::outPrintf("\n\nLocated Journal Database Record:\n\n");
        printJournalRec(record, n, key);
    } else if (db->dbGetLastError() != 0) {
        int err = db->dbGetLastError();
        plat::outPrintf("Error searching the database for %s\nerrno = %d, \"%s\"\n", shown.c_str(), err,
                        plat::errnoText(err).c_str());
    } else {
        plat::outPrintf("Your key \"%s\" was not found in the database\n", shown.c_str());
    }
    char elapsed[32];
    plat::outPrintf("\nTotal Query Time: %s\n\n", formatElapsed(elapsed, start, end));
}

void listRequest(toolDB* db) {
    if (db->entryCount == 0) {
        plat::outPrintf("There are no entries in the database\n");
        return;
    }
    if (db->journalInfoP->journalType == journalChange)
        plat::outPrintf("\nList of Change Journal Entries:\n\n");
    else
        plat::outPrintf("\nList of Incremental Needed Directories:\n\n");
    db->WalkTree();
    plat::outPrintf("\n");
}

}  // namespace

int charToUpper(char c) {
    char narrow[2] = {c, 0};
    char16_t wide[2] = {0, 0};
    if (plat::narrowToUtf16(wide, narrow, 1) != 1) return (signed char)c;
    wide[0] = plat::charUpperW(wide[0]);
    char back[16];
    if (!plat::utf16ToNarrow(back, sizeof back, wide)) return (signed char)c;
    return (signed char)back[0];
}

int parseRequest(const char* line, char* keyText, size_t keyTextSize) {
    static const char* const requestTable[] = {"", "quit", "del", "find", "list"};
    const char* p = line;
    while (*p != 0 && std::isspace((unsigned char)*p)) ++p;
    char word[16];
    size_t len = 0;
    bool tooLong = false;
    for (; *p != 0 && !std::isspace((unsigned char)*p); ++p) {
        if (len < sizeof word - 1)
            word[len++] = (char)std::tolower((unsigned char)*p);
        else
            tooLong = true;
    }
    word[len] = 0;
    while (*p != 0 && std::isspace((unsigned char)*p)) ++p;
    int code = 0;
    if (!tooLong) {
        for (int i = 0; i < 5; ++i) {
            if (std::strcmp(word, requestTable[i]) == 0) {
                code = i;
                break;
            }
        }
    }
    if (code == requestDel || code == requestFind) {
        size_t n = 0;
        while (p[n] != 0 && p[n] != '\n' && n + 1 < keyTextSize) ++n;
        while (n > 0 && std::isspace((unsigned char)p[n - 1])) --n;
        std::memcpy(keyText, p, n);
        keyText[n] = 0;
    }
    return code;
}

bool runRequestLoop(toolDB* db) {
    printHelp();
    char line[requestLineBytes];
    char keyText[requestLineBytes];
    static char16_t key[wideTextUnits];
    for (;;) {
        plat::outPrintf("Please enter your request: ");
        std::fflush(stdout);
        // The end of input leaves the loop as Quit does.
        if (std::fgets(line, sizeof line, stdin) == nullptr) return plat::interruptRequested();
        int code = parseRequest(line, keyText, sizeof keyText);
        if (code == requestQuit) return false;
        if (code == requestDel || code == requestFind) strToWide(key, keyText);
        if (code == requestDel)
            deleteRequest(db, key);
        else if (code == requestFind)
            findRequest(db, key);
        else if (code == requestList)
            listRequest(db);
        if (plat::interruptRequested()) return true;
    }
}
