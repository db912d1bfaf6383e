#include "jbbgen_input.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
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
    static const std::pair<const char*, uint32_t> kNames[] = {
        {"rename-old", 1}, {"rename-new", 2},       {"delete", 3},          {"create", 4},
        {"change-attribute", 5}, {"modify", 6}, {"delete-restore", 11}};
    const std::string w = normalizeWord(v);
    for (const auto& n : kNames) {
        if (w == n.first) {
            *out = n.second;
            return true;
        }
    }
    uint64_t num;
    if (!parseUnsigned(v, UINT32_MAX, &num)) return false;
    *out = static_cast<uint32_t>(num);
    return true;
}

bool parseObjectType(const std::string& v, uint32_t* out) {
    const std::string w = normalizeWord(v);
    if (w == "file") {
        *out = 1;
        return true;
    }
    if (w == "directory" || w == "dir") {
        *out = 2;
        return true;
    }
    uint64_t num;
    if (!parseUnsigned(v, UINT32_MAX, &num)) return false;
    *out = static_cast<uint32_t>(num);
    return true;
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
        *why = "bad action '" + fields[0] + "' (a number, or rename-old, rename-new, delete, create, "
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

bool readEntryFile(const std::string& path, std::vector<InputEntry>* entries,
                   std::vector<std::string>* errors, size_t maxErrors) {
    entries->clear();
    errors->clear();
    errno = 0;
    FILE* f = plat::openBinary(path.c_str(), "rb");
    if (f == nullptr) {
        errors->push_back("cannot read " + path + ": " + plat::errnoText(errno));
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
        InputEntry e;
        std::string why;
        if (parseEntryLine(line, &e, &why)) {
            e.line = lineNo;
            entries->push_back(std::move(e));
        } else if (!why.empty()) {
            bad.emplace_back(lineNo, why);
        }
    }
    const bool readFailed = reader.failed();
    std::fclose(f);
    if (readFailed) {
        errors->push_back("cannot read " + path + ": read error after line " + std::to_string(lineNo));
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
        bad.emplace_back(cur.line, "duplicate name, first given on line " +
                                       std::to_string((*entries)[idx[first]].line));
    }

    if (bad.empty()) return true;
    std::sort(bad.begin(), bad.end());
    for (size_t i = 0; i < bad.size() && i < maxErrors; ++i)
        errors->push_back(path + ":" + std::to_string(bad[i].first) + ": " + bad[i].second);
    if (bad.size() > maxErrors)
        errors->push_back(path + ": " + std::to_string(bad.size() - maxErrors) + " more bad lines not shown");
    entries->clear();
    return false;
}

}  // namespace jbbgen
