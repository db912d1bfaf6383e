#include "headerfields.h"

#include <cstring>

#include "textout.h"

namespace jbbtool {

JournalArea decodeJournalArea(const uint8_t* area) {
    JournalArea a;
    std::memcpy(&a.raw, area, sizeof a.raw);
    const uint8_t* sn = a.raw.serverAndNode;
    const size_t room = sizeof a.raw.serverAndNode;
    a.nulAt = 0;
    while (a.nulAt < room && sn[a.nulAt] != 0) ++a.nulAt;
    const size_t l = a.raw.serverNameLength < a.nulAt ? a.raw.serverNameLength : a.nulAt;
    a.server.assign((const char*)sn, l);
    a.node.assign((const char*)sn + l, a.nulAt - l);
    a.nodeEnded = a.nulAt < room;
    const uint8_t* fs = a.raw.fileSystemName;
    a.fileSystemEnded = false;
    for (size_t i = 0; i + 1 < sizeof a.raw.fileSystemName; i += 2) {
        const char16_t u = (char16_t)(fs[i] | (fs[i + 1] << 8));
        if (u == 0) {
            a.fileSystemEnded = true;
            break;
        }
        a.fileSystem += u;
    }
    return a;
}

const char* journalTypeWord(uint32_t type) {
    switch (type) {
        case journalUnformatted:
            return "unformatted";
        case journalChange:
            return "change";
        case journalIncrementalNeeded:
            return "incremental";
        default:
            return nullptr;
    }
}

const char* journalStateWord(uint32_t state) {
    return state == journalValid ? "valid" : state == journalIncrementalInProgress ? "in-progress" : "not-valid";
}

bool plausibleJournalTime(int64_t t) {
    // 1980-01-01T00:00:00Z and 2100-01-01T00:00:00Z.
    return t >= 315532800 && t < 4102444800;
}

std::vector<Implausible> implausibleCtrlFields(const ctrlRec& c, int64_t fileSize) {
    using btformat::Fault;
    std::vector<Implausible> out;
    const btformat::CtrlFaults f = btformat::checkCtrlRec(reinterpret_cast<const uint8_t*>(&c), sizeof c, fileSize);
    if (f.has(Fault::ctrlMagic)) out.push_back({"magic", "expected " + magicText(dbMagicNumber)});
    if (f.has(Fault::ctrlVersion))
        out.push_back({"version", "expected " + std::to_string(dbVersionMajor) + "." + std::to_string(dbVersionMinor)});
    if (f.has(Fault::ctrlStateUnknown)) out.push_back({"state", "an unknown state"});
    const bool empty = c.indexArraySize == 0 && c.currentIXCount == 0;
    const bool slots = fileSize > (int64_t)ctrlRecSize;
    auto inUse = [&](uint32_t sub) { return sub != 0 && sub < c.currentIXCount; };
    if (!empty && slots && !inUse(c.rootOffset))
        out.push_back({"rootOffset", "not a subscript in use (1 to currentIXCount - 1)"});
    if (f.has(Fault::ctrlEmptyWithSlots))
        out.push_back({"indexArraySize", "with currentIXCount it says the tree is empty, but the file holds slots"});
    if (f.has(Fault::ctrlIndexArraySize))
        out.push_back({"indexArraySize", "larger than a file of " + std::to_string(fileSize) + " bytes could use"});
    else if (f.has(Fault::ctrlIndexArrayStep))
        out.push_back({"indexArraySize", "not a multiple of " + std::to_string(indexArrayGrowth)});
    if (f.has(Fault::ctrlCounters)) out.push_back({"currentIXCount", "above indexArraySize"});
    if (!empty && slots && !inUse(c.lastIndex))
        out.push_back({"lastIndex", "not a subscript in use (1 to currentIXCount - 1)"});
    if (slots && (c.lastNDRec < (int64_t)ctrlRecSize || c.lastNDRec > fileSize - (int64_t)nodeInfoSize))
        out.push_back({"lastNDRec", "no slot can begin there in a file of " + std::to_string(fileSize) + " bytes"});
    if (f.has(Fault::ctrlKeyLength)) out.push_back({"dbKeyLen", "expected 0 (keys of variable length)"});
    if (c.dbDataLen != journalRecSize)
        out.push_back({"dbDataLen", "a journal's records are " + std::to_string(journalRecSize) + " bytes"});
    return out;
}

std::vector<Implausible> implausibleAreaFields(const JournalArea& a) {
    std::vector<Implausible> out;
    const journalInfo& j = a.raw;
    if (journalTypeWord(j.journalType) == nullptr)
        out.push_back({"type", "an unknown journal type (the viewer shows it as Incremental Needed)"});
    const bool formatted = j.journalType != journalUnformatted;
    if (formatted && !a.fileSystemEnded)
        out.push_back({"fileSystem", "no 0 unit ends it"});
    else if (formatted && a.fileSystem.empty())
        out.push_back({"fileSystem", "empty"});
    if (formatted && !plausibleJournalTime(j.activationDate))
        out.push_back({"activation", "not a time from 1980 to 2099"});
    // The validation date means something only in a valid change journal.
    if (j.journalType == journalChange && j.journalState == journalValid && !plausibleJournalTime(j.validationDate))
        out.push_back({"validation", "not a time from 1980 to 2099 in a valid journal"});
    if (j.serverNameLength > a.nulAt)
        out.push_back({"serverNameLength", std::to_string(j.serverNameLength) +
                                               " bytes, but a NUL ends server and node after " +
                                               std::to_string(a.nulAt)});
    if (!a.nodeEnded) out.push_back({"node", "no NUL ends it within its bytes"});
    return out;
}

}  // namespace jbbtool
