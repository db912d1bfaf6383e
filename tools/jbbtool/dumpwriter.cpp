#include "dumpwriter.h"

#include <cstring>

#include "journal.h"
#include "textout.h"

namespace jbbtool {

namespace {

// The record as a journalRec: a short record reads as zeros behind its
// bytes.
journalRec asJournalRec(const uint8_t* data, uint16_t dataLen) {
    journalRec r;
    std::memset(&r, 0, sizeof r);
    std::memcpy(&r, data, dataLen < sizeof r ? dataLen : sizeof r);
    return r;
}

// A key the name field cannot carry: a tab, a line end or an unpaired
// surrogate in it, or no character at all.
bool needsKeyLine(const std::u16string& key) {
    if (key.empty() || hasUnpairedSurrogate(key)) return true;
    for (char16_t u : key)
        if (u == u'\t' || u == u'\n' || u == u'\r') return true;
    return false;
}

std::string hexUnits(const std::u16string& key) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    s.reserve(4 * key.size());
    for (char16_t u : key)
        for (int shift = 12; shift >= 0; shift -= 4) s += kDigits[(u >> shift) & 15];
    return s;
}

std::string typeWord(uint32_t t) { return t == 1 ? "file" : t == 2 ? "directory" : std::to_string(t); }

}  // namespace

std::string actionWord(uint32_t action) {
    switch (action) {
        case 1: return "rename-old";
        case 2: return "rename-new";
        case 3: return "delete";
        case 4: return "create";
        case 5: return "change-attribute";
        case 6: return "modify";
        case 11: return "delete-restore";
        default: return std::to_string(action);
    }
}

void DumpWriter::head(const uint8_t* area, uint16_t dataLen) {
    size_t used = 0;
    if (area != nullptr)
        for (size_t i = 0; i < appAreaSize; ++i)
            if (area[i] != 0) used = i + 1;
    if (json_) {
        std::string s = "{\"schema\":\"jbbtool.dump/1\",\"dataLength\":" + std::to_string(dataLen) + ",\"appArea\":" +
                        (area != nullptr ? "\"" + hexBytes(area, used) + "\"" : std::string("null")) + "}\n";
        std::fputs(s.c_str(), out_);
        return;
    }
    std::fputs("# jbbtool dump: entries in key order, for jbbgen --input\n", out_);
    if (area != nullptr) {
        journalInfo ji;
        std::memcpy(&ji, area, sizeof ji);
        std::u16string fs;
        for (size_t i = 0; i + 1 < sizeof ji.fileSystemName; i += 2) {
            char16_t u = (char16_t)(ji.fileSystemName[i] | (ji.fileSystemName[i + 1] << 8));
            if (u == 0) break;
            fs += u;
        }
        std::string sn((const char*)ji.serverAndNode, sizeof ji.serverAndNode);
        sn.resize(std::strlen(sn.c_str()));
        size_t l = ji.serverNameLength < sn.size() ? ji.serverNameLength : sn.size();
        std::fprintf(out_,
                     "# journal type %u, state %u, activated %s, validated %s, maximum size %llu\n"
                     "# server %s, node %s, file system %s\n",
                     ji.journalType, ji.journalState, utcText(ji.activationDate).c_str(),
                     utcText(ji.validationDate).c_str(), (unsigned long long)ji.maxJournalSize,
                     jsonString(sn.substr(0, l)).c_str(), jsonString(sn.substr(l)).c_str(), jsonString(fs).c_str());
    }
    if (dataLen != sizeof(journalRec)) std::fprintf(out_, "%%data-length %u\n", dataLen);
    if (area != nullptr) std::fprintf(out_, "%%app-area %s\n", hexBytes(area, used).c_str());
}

void DumpWriter::entry(const std::u16string& key, const uint8_t* data, uint16_t dataLen) {
    journalRec r = asJournalRec(data, dataLen);
    if (json_) {
        std::string s = "{\"key\":" + jsonString(key) + ",\"action\":" + std::to_string(r.action) +
                        ",\"objectType\":" + std::to_string(r.objectType) +
                        ",\"inserted\":" + std::to_string(r.insertedTime) +
                        ",\"objectTime\":" + std::to_string(r.objectTime) + ",\"record\":\"" +
                        hexBytes(data, dataLen) + "\"}\n";
        std::fputs(s.c_str(), out_);
        return;
    }
    std::string name;
    if (needsKeyLine(key)) {
        std::fprintf(out_, "%%key %s\n", hexUnits(key).c_str());
        std::u16string shown = key;
        for (char16_t& u : shown)
            if (u == u'\t' || u == u'\n' || u == u'\r') u = 0xFFFD;
        name = shown.empty() ? "-" : toUtf8(shown);
    } else {
        name = toUtf8(key);
    }
    bool plain = dataLen == sizeof r;
    for (size_t i = 0; plain && i < sizeof r.opaque; ++i) plain = r.opaque[i] == 0;
    std::string line;
    if (!plain) line = "%record " + hexBytes(data, dataLen) + "\n";
    line += actionWord(r.action);
    line += '\t';
    line += typeWord(r.objectType);
    line += '\t';
    line += utcText(r.insertedTime);
    line += '\t';
    line += utcText(r.objectTime);
    line += '\t';
    line += name;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out_);
}

}  // namespace jbbtool
