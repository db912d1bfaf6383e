#include "jbbgen_input.h"

#include "dumpformat.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <utility>

#include "jbbgen_text.h"
#include "platform.h"

namespace jbbgen {

namespace {

std::string trimBlanks(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return s.substr(b, e - b);
}

bool parseAction(const std::string& v, uint32_t* out) {
    return parseKeywordOrNumber(v,
                                {{"rename-old", 1},
                                 {"rename-new", 2},
                                 {"delete", 3},
                                 {"create", 4},
                                 {"change-attribute", 5},
                                 {"modify", 6},
                                 {"delete-restore", 11}},
                                out);
}

bool parseObjectType(const std::string& v, uint32_t* out) {
    return parseKeywordOrNumber(v, {{"file", 1}, {"directory", 2}, {"dir", 2}}, out);
}

// Reads a file line by line; a line is handed out without its '\n'.
class LineReader {
public:
    explicit LineReader(FILE* f) : f_(f) {}
    bool next(std::string* line) {
        line->clear();
        for (;;) {
            if (pos_ == len_) {
                len_ = std::fread(buf_, 1, sizeof buf_, f_);
                pos_ = 0;
                // At the end: a last line without '\n' still counts.
                if (len_ == 0) return !line->empty();
            }
            const void* nl = std::memchr(buf_ + pos_, '\n', len_ - pos_);
            const size_t end = nl != nullptr ? static_cast<size_t>(static_cast<const char*>(nl) - buf_) : len_;
            line->append(buf_ + pos_, end - pos_);
            if (nl != nullptr) {
                pos_ = end + 1;
                return true;
            }
            pos_ = len_;
        }
    }
    bool failed() const { return std::ferror(f_) != 0; }

private:
    FILE* f_;
    char buf_[65536];
    size_t pos_ = 0;
    size_t len_ = 0;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Bytes of a hexadecimal text; false for an odd count or another character.
bool parseHex(const std::string& v, std::vector<uint8_t>* out) {
    out->clear();
    if (v.size() % 2 != 0) return false;
    for (size_t i = 0; i < v.size(); i += 2) {
        int hi = hexDigit(v[i]), lo = hexDigit(v[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out->push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

// What the '%' lines before an entry line said about it.
struct Pending {
    bool hasKey = false;
    std::u16string key;
    bool hasRecord = false;
    journalRec rec{};
    void clear() { *this = Pending(); }
    bool any() const { return hasKey || hasRecord; }
};

// Applies one '%' line; false with `why` set when it is bad.
bool applyDirective(const std::string& line, bool entriesSeen, InputHead* head, bool* areaSeen, Pending* p,
                    std::string* why) {
    const size_t sp = line.find(' ');
    const std::string word = line.substr(0, sp);
    const std::string value = sp == std::string::npos ? std::string() : trimBlanks(line.substr(sp + 1));
    std::vector<uint8_t> bytes;
    if (word == "%app-area") {
        if (*areaSeen || entriesSeen) {
            *why = "%app-area must come once, before the first entry";
            return false;
        }
        if (!parseHex(value, &bytes) || bytes.size() > sizeof head->area) {
            *why = "bad %app-area: expected at most 2048 bytes as hexadecimal digits";
            return false;
        }
        *areaSeen = true;
        head->hasArea = true;
        std::memset(head->area, 0, sizeof head->area);
        if (!bytes.empty()) std::memcpy(head->area, bytes.data(), bytes.size());
        return true;
    }
    if (word == "%data-length") {
        if (value != std::to_string(sizeof(journalRec))) {
            *why = "records of " + value + " bytes: jbbgen makes journals of 32-byte records only";
            return false;
        }
        return true;
    }
    if (word == "%key") {
        if (p->hasKey || value.size() % 4 != 0 || !parseHex(value, &bytes)) {
            *why = "bad %key: expected one line of UTF-16 units, 4 hexadecimal digits each";
            return false;
        }
        p->key.clear();
        for (size_t i = 0; i < bytes.size(); i += 2) p->key += static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1]);
        if (p->key.find(u'\0') != std::u16string::npos || p->key.size() > maxNameUnits) {
            *why = "bad %key: a name holds no 0 unit and at most " + std::to_string(maxNameUnits) + " units";
            return false;
        }
        p->hasKey = true;
        return true;
    }
    if (word == "%record") {
        if (p->hasRecord || !parseHex(value, &bytes) || bytes.size() != sizeof(journalRec)) {
            *why = "bad %record: expected 32 bytes as 64 hexadecimal digits";
            return false;
        }
        std::memcpy(&p->rec, bytes.data(), sizeof p->rec);
        p->hasRecord = true;
        return true;
    }
    *why = "unknown line '" + word + "' (%app-area, %data-length, %key, %record)";
    return false;
}

}  // namespace

bool parseEntryLine(const std::string& line, InputEntry* e, std::string* why) {
    why->clear();
    if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') return false;

    std::string fields[4];
    size_t start = 0;
    for (int f = 0; f < 4; ++f) {
        const size_t tab = line.find('\t', start);
        if (tab == std::string::npos) {
            *why = "expected 5 tab-separated fields (action, type, inserted, object time, name), found " +
                   std::to_string(f + 1);
            return false;
        }
        fields[f] = trimBlanks(line.substr(start, tab - start));
        start = tab + 1;
    }
    const std::string name = line.substr(start);
    if (name.find('\t') != std::string::npos) {
        *why = "more than 5 tab-separated fields (a name cannot hold a tab)";
        return false;
    }

    journalRec rec{};
    uint32_t action, objectType;
    if (!parseAction(fields[0], &action)) {
        *why = "bad action '" + fields[0] +
               "' (a number, or rename-old, rename-new, delete, create, "
               "change-attribute, modify, delete-restore)";
        return false;
    }
    if (!parseObjectType(fields[1], &objectType)) {
        *why = "bad object type '" + fields[1] + "' (a number, or file, directory)";
        return false;
    }
    rec.action = action;
    rec.objectType = objectType;
    int64_t t;
    if (!parseTime(fields[2], &t)) {
        *why = "bad inserted time '" + fields[2] + "' (seconds since 1970, or YYYY-MM-DDTHH:MM:SS)";
        return false;
    }
    rec.insertedTime = t;
    if (!parseTime(fields[3], &t)) {
        *why = "bad object time '" + fields[3] + "' (seconds since 1970, or YYYY-MM-DDTHH:MM:SS)";
        return false;
    }
    rec.objectTime = t;

    if (name.empty()) {
        *why = "empty name";
        return false;
    }
    if (name.find('\0') != std::string::npos) {
        *why = "the name holds a NUL character";
        return false;
    }
    std::string utfWhy;
    if (!utf8ToUtf16(name, &e->key, &utfWhy)) {
        *why = "the name is not UTF-8: " + utfWhy + " of the name";
        return false;
    }
    if (e->key.size() > maxNameUnits) {
        *why = "the name is too long: " + std::to_string(e->key.size()) + " UTF-16 units, at most " +
               std::to_string(maxNameUnits);
        return false;
    }
    e->rec = rec;
    return true;
}

std::string inputName(const std::string& path) { return path == standardInputArg ? "(standard input)" : path; }

bool readEntryFile(const std::string& path, std::vector<InputEntry>* entries, std::vector<std::string>* errors,
                   size_t maxErrors, InputHead* head) {
    InputHead localHead;
    if (head == nullptr) head = &localHead;
    *head = InputHead();
    bool areaSeen = false;
    Pending pending;
    entries->clear();
    errors->clear();
    const bool fromStdin = path == standardInputArg;
    const std::string name = inputName(path);
    // A directory opens for reading on some systems and not on others: it
    // is refused by name, the same everywhere.
    if (!fromStdin && plat::isDirectory(path.c_str())) {
        errors->push_back("cannot read " + name + ": it is a directory");
        return false;
    }
    errno = 0;
    FILE* f = fromStdin ? stdin : plat::openBinary(path.c_str(), "rb");
    if (f == nullptr || (fromStdin && !plat::stdinBinary())) {
        errors->push_back("cannot read " + name + ": " + plat::errnoText(errno));
        return false;
    }

    std::vector<std::pair<uint32_t, std::string>> bad;  // line, reason
    LineReader reader(f);
    std::string line;
    uint32_t lineNo = 0;
    while (reader.next(&line)) {
        ++lineNo;
        if (lineNo == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (lineNo == 1 && head != nullptr) head->isDump = line == kDumpHeadLine;
        InputEntry e;
        std::string why;
        if (!line.empty() && line[0] == '%') {
            if (!applyDirective(line, !entries->empty(), head, &areaSeen, &pending, &why))
                bad.emplace_back(lineNo, why);
            continue;
        }
        const bool hadPending = pending.any();
        if (parseEntryLine(line, &e, &why)) {
            e.line = lineNo;
            if (pending.hasKey) e.key = pending.key;
            if (pending.hasRecord) {
                if (std::memcmp(&pending.rec, &e.rec, offsetof(journalRec, opaque)) != 0)
                    bad.emplace_back(lineNo, "the fields disagree with the %record line before");
                e.rec = pending.rec;
            }
            entries->push_back(std::move(e));
        } else if (!why.empty()) {
            bad.emplace_back(lineNo, why);
        } else if (hadPending) {
            bad.emplace_back(lineNo, "a %key or %record line must be followed by its entry line");
        }
        pending.clear();
    }
    if (pending.any()) bad.emplace_back(lineNo, "a %key or %record line must be followed by its entry line");
    const bool readFailed = reader.failed();
    if (!fromStdin) std::fclose(f);
    if (readFailed) {
        errors->push_back("cannot read " + name + ": read error after line " + std::to_string(lineNo));
        return false;
    }

    // Names must be unique: sort by name and compare neighbours.
    std::vector<uint32_t> idx(entries->size());
    for (uint32_t i = 0; i < idx.size(); ++i) idx[i] = i;
    std::sort(idx.begin(), idx.end(), [&](uint32_t a, uint32_t b) {
        const InputEntry& x = (*entries)[a];
        const InputEntry& y = (*entries)[b];
        return x.key != y.key ? x.key < y.key : x.line < y.line;
    });
    // Every repetition is reported against the first line of its name.
    size_t first = 0;
    for (size_t i = 1; i < idx.size(); ++i) {
        const InputEntry& cur = (*entries)[idx[i]];
        if ((*entries)[idx[first]].key != cur.key) {
            first = i;
            continue;
        }
        bad.emplace_back(cur.line,
                         "duplicate name, first given on line " + std::to_string((*entries)[idx[first]].line));
    }

    if (bad.empty()) return true;
    std::sort(bad.begin(), bad.end());
    for (size_t i = 0; i < bad.size() && i < maxErrors; ++i)
        errors->push_back(name + ":" + std::to_string(bad[i].first) + ": " + bad[i].second);
    if (bad.size() > maxErrors)
        errors->push_back(name + ": " + std::to_string(bad.size() - maxErrors) + " more bad lines not shown");
    entries->clear();
    return false;
}

}  // namespace jbbgen
