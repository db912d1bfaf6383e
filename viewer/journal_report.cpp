// Texts printed from journal records and the journal control area.
#include <cstdio>
#include <cstring>
#include <string>

#include "journal_report.h"
#include "platform.h"

namespace {

// ctime text of a time with its newline, or a stand-in for a time the
// run-time cannot show.
std::string timeText(int64_t t) {
    char buf[32];
    if (!plat::ctimeText(t, buf)) return "(invalid time)\n";
    return buf;
}

std::string withoutNewline(std::string s) {
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

// Text of `n` bytes that stops at the first NUL.
std::string boundedText(const uint8_t* p, size_t n) {
    size_t len = 0;
    while (len < n && p[len] != 0) ++len;
    return std::string(reinterpret_cast<const char*>(p), len);
}

}  // namespace

char* formatSize(uint64_t n, char* buf, size_t bufSize) {
    static const char* const units[] = {"Byte", "KB", "MB", "GB", "TB", "PB"};
    int unit = 0;
    while (unit < 5 && n >= (uint64_t{1} << (10 * (unit + 1)))) ++unit;
    if (unit == 0)
        std::snprintf(buf, bufSize, "%llu %s%c", (unsigned long long)n, units[0], n > 1 ? 's' : ' ');
    else
        std::snprintf(buf, bufSize, "%llu %s (%llu Bytes)", (unsigned long long)(n >> (10 * unit)), units[unit],
                      (unsigned long long)n);
    return buf;
}

char* formatElapsed(char* buf, long start, long end) {
    int32_t d = (int32_t)(end - start);
    if (d == 0) {
        std::strcpy(buf, "< 1 ms");
        return buf;
    }
    long minutes = 0, seconds = 0, millis = d;
    if (d >= 1000) {
        seconds = d / 1000;
        millis = d - seconds * 1000;
        if (seconds >= 60) {
            minutes = seconds / 60;
            seconds -= minutes * 60;
        }
    }
    std::snprintf(buf, 32, "%02d:%02ld:%03ld", (int)minutes, seconds, millis);
    return buf;
}

const char* keyLengthText(unsigned keyLen, char* buf, size_t bufSize) {
    if (keyLen == 0) return "Variable Length";
    char size[32];  // "64 KB (65535 Bytes)" at most for a 16-bit length
    std::snprintf(buf, bufSize, "%s Characters", formatSize(keyLen, size, sizeof size));
    return buf;
}

void printJournalRec(const uint8_t* data, size_t dataLen, const char16_t* key) {
    journalRec rec = journalRecFrom(data, dataLen);
    char actionBuf[32];
    plat::outPrintf(
        "-----------------------------------------\n   Object Name  : %s\n   Action       : %s\n"
        "   Object Type  : %s\n   Inserted     : %s\n   Object Time  : %s\n"
        "-----------------------------------------\n\n",
        plat::outName(key).c_str(), actionName(rec.action, actionBuf, sizeof actionBuf), objectTypeName(rec.objectType),
        withoutNewline(timeText(rec.insertedTime)).c_str(), withoutNewline(timeText(rec.objectTime)).c_str());
}

void printJournalInfo(uint8_t versMaj, uint8_t versMin, const journalInfo* info, uint32_t entries, uint16_t keyLen,
                      uint16_t dataLen, const char* dbName, uint64_t fileSize) {
    char maxSizeBuf[64], fileSizeBuf[64], keyBuf[64];
    const char* maxSize = info->maxJournalSize == 0 ? "Unlimited" : formatSize(info->maxJournalSize, maxSizeBuf);
    std::string activation = timeText(info->activationDate);
    std::string server = "N/A", node = "N/A", state = "N/A", validation = "N/A\n";
    if (info->journalType == journalChange) {
        if (info->serverAndNode[0] == 0) {
            server = node = "(not set)";
        } else {
            size_t l = info->serverNameLength < serverNodeBytes ? info->serverNameLength : serverNodeBytes;
            server = boundedText(info->serverAndNode, l);
            node = boundedText(info->serverAndNode + l, serverNodeBytes - l);
        }
        state = info->journalState == journalValid                   ? "Valid"
                : info->journalState == journalIncrementalInProgress ? "Incremental in Progress"
                                                                     : "Not Valid";
        validation = info->journalState == journalValid ? timeText(info->validationDate) : "(not set)\n";
    }
    const char* type = info->journalType == journalUnformatted ? "Unformatted"
                       : info->journalType == journalChange    ? "Change Journal"
                                                               : "Incremental Needed";
    char16_t fsName[fileSystemNameUnits + 1];
    std::memcpy(fsName, info->fileSystemName, sizeof info->fileSystemName);
    fsName[fileSystemNameUnits] = 0;

    plat::outPrintf(
        "\n\nJournal Database Information:\n\n     Btree Database Version  %d.%d\n"
        "     Database File           %s.jbbdb\n     Database File Disk Size %s\n"
        "     Journal  File System    %s\n     Journal  Key length     %s\n"
        "     Journal  Data length    %d Bytes\n     Journal Activation Date %s"
        "     Journal Validation Date %s     Maximum Journal Size    %s\n"
        "     Journal Type            %s\n     Journal State           %s\n"
        "     Valid for Server        %s\n     Valid for Node          %s\n",
        versMaj, versMin, dbName, formatSize(fileSize, fileSizeBuf), plat::outName(fsName).c_str(),
        keyLengthText(keyLen, keyBuf, sizeof keyBuf), dataLen, activation.c_str(), validation.c_str(), maxSize, type,
        state.c_str(), server.c_str(), node.c_str());
    if (entries == 0xFFFFFFFFu)
        plat::outPrintf("     Number of DB Entries    unknown\n\n");
    else
        plat::outPrintf("     Number of DB Entries    %u\n\n", (unsigned)entries);
}
