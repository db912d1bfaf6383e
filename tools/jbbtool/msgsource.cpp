// Message sources (msgsource.h): reading and compiling them, laying out
// the repository file (nlsformat.h), and writing repositories back as
// source.

#include "msgsource.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "nls.h"
#include "nlsform.h"
#include "nlsformat.h"

namespace jbbtool {

namespace {

constexpr size_t kMaxText = 25600;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted text at line[*i] == '"'.
bool readQuoted(const std::string& line, size_t* i, std::string* out, std::string* why) {
    out->clear();
    size_t j = *i + 1;
    while (j < line.size() && line[j] != '"') {
        char c = line[j++];
        if (c == '\0') {
            // The formatter and the listing stop at a NUL.
            *why = "a text cannot hold a NUL byte";
            return false;
        }
        if (c == '\\') {
            if (j >= line.size()) break;
            const char e = line[j++];
            switch (e) {
                case 'n':
                    c = '\n';
                    break;
                case 't':
                    c = '\t';
                    break;
                case 'r':
                    c = '\r';
                    break;
                case '\\':
                    c = '\\';
                    break;
                case '"':
                    c = '"';
                    break;
                case 'x': {
                    const int hi = j < line.size() ? hexValue(line[j]) : -1;
                    const int lo = j + 1 < line.size() ? hexValue(line[j + 1]) : -1;
                    if (hi < 0 || lo < 0) {
                        *why = "\\x needs two hex digits";
                        return false;
                    }
                    c = static_cast<char>(hi * 16 + lo);
                    if (c == '\0') {
                        *why = "a text cannot hold \\x00";
                        return false;
                    }
                    j += 2;
                    break;
                }
                default:
                    *why = std::string("unknown escape \\") + e;
                    return false;
            }
        }
        out->push_back(c);
    }
    if (j >= line.size()) {
        *why = "the quoted text is not closed";
        return false;
    }
    *i = j + 1;
    return true;
}

std::string nextWord(const std::string& line, size_t* i) {
    while (*i < line.size() && isBlank(line[*i])) ++*i;
    const size_t start = *i;
    while (*i < line.size() && !isBlank(line[*i]) && line[*i] != '"') ++*i;
    return line.substr(start, *i - start);
}

void skipBlanks(const std::string& line, size_t* i) {
    while (*i < line.size() && isBlank(line[*i])) ++*i;
}

bool parseNumber(const std::string& w, uint32_t max, uint32_t* value) {
    if (w.empty() || w.size() > 10) return false;
    uint64_t v = 0;
    for (const char c : w) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > max) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

bool parseSeverity(const std::string& w, uint8_t* severity) {
    if (w.size() == 1) {
        const char* p = std::strchr(kNlsSeverityLetters, w[0]);
        if (p != nullptr && w[0] != '\0') {
            *severity = static_cast<uint8_t>(p - kNlsSeverityLetters);
            return true;
        }
    }
    uint32_t v = 0;
    if (!parseNumber(w, 15, &v)) return false;
    *severity = static_cast<uint8_t>(v);
    return true;
}

void putBe32(std::string* out, uint32_t v) {
    out->push_back(static_cast<char>(v >> 24));
    out->push_back(static_cast<char>(v >> 16));
    out->push_back(static_cast<char>(v >> 8));
    out->push_back(static_cast<char>(v));
}

// One conversion of a positional text.
struct Insert {
    NlsConversion conv;
    std::string spec;  // without positions, without the l of a wide s or c
    bool wide = false;
    uint8_t kind = 0;
    unsigned first = 0;  // position of its first argument (star or value)
};

// The conversion `c` (text at s) without its positions.
std::string stripPositions(const char* s, const NlsConversion& c) {
    std::string out;
    for (size_t i = 0; i < c.length; ++i) {
        out.push_back(s[i]);
        if (s[i] == '%' || s[i] == '*') {
            size_t j = i + 1;
            while (j < c.length && s[j] >= '0' && s[j] <= '9') ++j;
            if (j < c.length && s[j] == '$' && j > i + 1) i = j;
        }
    }
    return out;
}

// Compiles `text` to its form; false with a reason.
bool compileText(const std::string& text, std::string* out, std::string* why) {
    std::vector<Insert> inserts;
    std::vector<std::string> pieces(1);
    bool anyPositional = false;
    bool anyPlain = false;
    for (size_t i = 0; i < text.size();) {
        if (text[i] != '%') {
            pieces.back().push_back(text[i++]);
            continue;
        }
        NlsConversion c;
        if (!nlsScanConversion(text.data() + i, text.size() - i, true, &c)) {
            *why = "'" + text.substr(i, 8) + "' is not a conversion (write %% for a percent sign)";
            return false;
        }
        if (c.type == NlsArgType::None) {
            pieces.back().push_back('%');
            i += c.length;
            continue;
        }
        if (c.type == NlsArgType::Refused) {
            *why = "%n and %p cannot be used in a message";
            return false;
        }
        const bool positional = c.pos != 0;
        (positional ? anyPositional : anyPlain) = true;
        if (positional && ((c.starWidth && c.widthPos == 0) || (c.starPrec && c.precPos == 0))) {
            *why = "a star in a positional conversion needs its position (*N$)";
            return false;
        }
        if (!positional && (c.widthPos != 0 || c.precPos != 0)) {
            *why = "a positional star needs a positional conversion";
            return false;
        }
        Insert ins;
        ins.conv = c;
        ins.spec = stripPositions(text.data() + i, c);
        if ((c.conv == 's' || c.conv == 'c') && c.lenMod[0] == 'l') {
            ins.wide = true;
            ins.spec.erase(ins.spec.size() - 2, 1);
        }
        inserts.push_back(ins);
        pieces.emplace_back();
        i += c.length;
    }
    if (anyPositional && anyPlain) {
        *why = "positional and plain conversions are mixed";
        return false;
    }
    if (!anyPositional) {
        if (text.size() + 1 > kMaxText) {
            *why = "the text is longer than 25600 bytes";
            return false;
        }
        *out = std::string(1, static_cast<char>(kNlsFormPrintf)) + text;
        return true;
    }
    if (inserts.size() > static_cast<size_t>(kNlsMaxInserts)) {
        *why = "more than 10 inserts";
        return false;
    }
    std::set<unsigned> used;
    for (Insert& ins : inserts) {
        const NlsConversion& c = ins.conv;
        const std::string name = "%" + std::to_string(c.pos) + "$";
        switch (c.type) {
            case NlsArgType::Text:
            case NlsArgType::WideText:
                ins.kind = kNlsKindText;
                break;
            case NlsArgType::Int:
                ins.kind = kNlsKindInt;
                break;
            case NlsArgType::LongLong:
                ins.kind = kNlsKindInt64;
                break;
            case NlsArgType::Long:
                *why = name + " with l: write d for 32 bits or lld for 64 bits";
                return false;
            default:
                *why = name + " is a floating-point conversion, which an insert cannot be";
                return false;
        }
        if (ins.spec.size() > static_cast<size_t>(kNlsMaxSpec)) {
            *why = name + " is longer than 8 characters without its positions";
            return false;
        }
        ins.first = c.pos - static_cast<unsigned>(c.stars);
        const bool starsAdjacent = (!c.starWidth || c.widthPos == ins.first) &&
                                   (!c.starPrec || c.precPos == (c.starWidth ? ins.first + 1 : ins.first));
        if (c.pos <= static_cast<unsigned>(c.stars) || !starsAdjacent) {
            *why = "the star arguments of " + name + " must come just before it";
            return false;
        }
        for (unsigned p = ins.first; p <= c.pos; ++p) {
            if (!used.insert(p).second) {
                *why = "argument " + std::to_string(p) + " is used twice";
                return false;
            }
        }
    }
    for (unsigned p = 1; p <= used.size(); ++p) {
        if (used.count(p) == 0) {
            *why = "argument " + std::to_string(p) + " is not used";
            return false;
        }
    }
    std::vector<uint8_t> order(inserts.size());
    for (size_t k = 0; k < order.size(); ++k) order[k] = static_cast<uint8_t>(k);
    std::sort(order.begin(), order.end(), [&](uint8_t a, uint8_t b) { return inserts[a].first < inserts[b].first; });
    uint32_t mask = 0;
    for (size_t k = 0; k < inserts.size(); ++k) {
        if (inserts[k].wide) mask |= uint32_t{1} << k;
    }
    std::string o(1, static_cast<char>(kNlsFormOrdered));
    putBe32(&o, mask);
    o.push_back(static_cast<char>(inserts.size()));
    for (const uint8_t k : order) o.push_back(static_cast<char>(k));
    for (const Insert& ins : inserts) {
        o.push_back(static_cast<char>(ins.conv.stars));
        o.push_back(static_cast<char>(ins.kind));
        o += ins.spec;
        o.push_back('\0');
    }
    for (const std::string& p : pieces) {
        o += p;
        o.push_back('\0');
    }
    if (o.size() > kMaxText) {
        *why = "the text is longer than 25600 bytes";
        return false;
    }
    *out = o;
    return true;
}

std::string escape(const std::string& s) {
    std::string out;
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                if (u < 0x20 || u == 0x7F) {
                    static const char kHex[] = "0123456789ABCDEF";
                    out += "\\x";
                    out.push_back(kHex[u >> 4]);
                    out.push_back(kHex[u & 15]);
                } else {
                    out.push_back(c);
                }
        }
    }
    return out;
}

std::string doublePercents(const char* s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out.push_back(s[i]);
        if (s[i] == '%') out.push_back('%');
    }
    return out;
}

// The positional source text of an ordered-insert text.
bool orderedSource(const std::string& text, std::string* out, std::string* why) {
    NlsOrdered o;
    const char* reason = nullptr;
    if (!nlsParseOrdered(text.data(), text.size(), &o, &reason)) {
        *why = reason;
        return false;
    }
    unsigned valuePos[kNlsMaxInserts] = {};
    unsigned next = 1;
    for (int j = 0; j < o.count; ++j) {
        const int i = o.order[j];
        next += o.insert[i].stars;
        valuePos[i] = next++;
    }
    for (int k = 0; k < o.count; ++k) {
        const NlsInsert& ins = o.insert[k];
        // The formatter makes such an insert fit its kind; a source cannot
        // say it.
        if (!nlsKindFeeds(ins.kind, ins.conv) || ins.kind == kNlsKindInt2) {
            *why = "insert " + std::to_string(k + 1) + " (" + ins.spec + ") has kind " + std::to_string(ins.kind) +
                   ", which a source cannot give it";
            return false;
        }
    }
    std::string s = doublePercents(o.piece[0], o.pieceLen[0]);
    for (int k = 0; k < o.count; ++k) {
        const NlsInsert& ins = o.insert[k];
        unsigned star = valuePos[k] - ins.stars;
        s += '%' + std::to_string(valuePos[k]) + '$';
        for (const char* p = ins.format + 1; *p != '\0'; ++p) {
            s.push_back(*p);
            if (*p == '*') s += std::to_string(star++) + '$';
        }
        s += doublePercents(o.piece[k + 1], o.pieceLen[k + 1]);
    }
    *out = s;
    return true;
}

}  // namespace

bool parseSource(const std::string& source, const std::string& fileName, std::vector<SourceMessage>* messages,
                 std::string* error) {
    messages->clear();
    std::set<uint32_t> seen;
    int lineNo = 0;
    for (size_t start = 0; start < source.size();) {
        size_t end = source.find('\n', start);
        if (end == std::string::npos) end = source.size();
        const std::string line = source.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        const auto fail = [&](const std::string& why) {
            *error = fileName + ":" + std::to_string(lineNo) + ": " + why;
            return false;
        };
        size_t i = 0;
        skipBlanks(line, &i);
        if (i == line.size() || line[i] == '#') continue;
        SourceMessage m;
        m.line = lineNo;
        const std::string number = nextWord(line, &i);
        if (!parseNumber(number, kNlsMaxMessage, &m.number) || m.number == 0) {
            return fail("'" + number + "' is not a message number (1 to 65535)");
        }
        if (!seen.insert(m.number).second) return fail("message " + number + " is defined twice");
        const std::string severity = nextWord(line, &i);
        if (!parseSeverity(severity, &m.severity)) {
            return fail("'" + severity + "' is not a severity (one of ZTRKIWESL, or 0 to 15)");
        }
        std::string why;
        const std::string word = nextWord(line, &i);
        if (word == "response") {
            skipBlanks(line, &i);
            if (i >= line.size() || line[i] != '"') return fail("response needs a quoted text");
            if (!readQuoted(line, &i, &m.response, &why)) return fail(why);
            if (m.response.empty() || m.response.size() > kNlsMaxResponse) {
                return fail("a response has 1 to 7 bytes");
            }
        } else if (!word.empty()) {
            return fail("'" + word + "' is neither response nor a quoted text");
        }
        skipBlanks(line, &i);
        if (i >= line.size() || line[i] != '"') return fail("the message text is missing");
        std::string text;
        if (!readQuoted(line, &i, &text, &why)) return fail(why);
        skipBlanks(line, &i);
        if (i != line.size()) return fail("something follows the message text");
        if (!compileText(text, &m.text, &why)) return fail(why);
        messages->push_back(m);
    }
    return true;
}

bool buildRepository(std::vector<SourceMessage>* messages, const std::string& fileName, std::string* file,
                     std::string* error) {
    std::sort(messages->begin(), messages->end(),
              [](const SourceMessage& a, const SourceMessage& b) { return a.number < b.number; });
    const uint32_t maxN = messages->empty() ? 0 : messages->back().number;
    std::string out(kNlsHeaderSize + 2 * static_cast<size_t>(maxN), '\0');
    std::memcpy(&out[0], kNlsFileTag, sizeof kNlsFileTag - 1);
    for (const SourceMessage& m : *messages) {
        const size_t units = (out.size() + kNlsRecordUnit - 1) / kNlsRecordUnit;
        const size_t r = units + 1;
        if (r > kNlsMaxRecord) {
            *error =
                fileName + ":" + std::to_string(m.line) + ": the repository would hold more than 65535 record units";
            return false;
        }
        out.resize(units * kNlsRecordUnit, '\0');
        const uint64_t ix = nlsIndexOffset(m.number);
        out[ix] = static_cast<char>(r >> 8);
        out[ix + 1] = static_cast<char>(r & 0xFF);
        for (size_t done = 0; done < m.text.size();) {
            const size_t n = std::min<size_t>(kNlsMaxSegmentText, m.text.size() - done);
            const bool first = done == 0;
            NlsSegmentHeader h{done + n < m.text.size(), m.severity,
                               static_cast<uint8_t>(first ? m.response.size() : 0), static_cast<uint8_t>(n)};
            unsigned char hb[2];
            nlsEncodeSegment(h, hb);
            out.append(reinterpret_cast<const char*>(hb), 2);
            if (first) out += m.response;
            out.append(m.text, done, n);
            done += n;
        }
    }
    *file = out;
    return true;
}

std::vector<ListedMessage> readRepository(const std::string& file, std::vector<std::string>* problems, int* named) {
    std::vector<ListedMessage> out;
    if (named != nullptr) *named = 0;
    const auto* u = reinterpret_cast<const unsigned char*>(file.data());
    uint64_t indexEnd = file.size();
    for (uint32_t n = 1; n <= kNlsMaxMessage && nlsIndexOffset(n) + 2 <= indexEnd; ++n) {
        const uint64_t ix = nlsIndexOffset(n);
        const uint32_t r = (static_cast<uint32_t>(u[ix]) << 8) | u[ix + 1];
        if (r == 0) continue;
        // The index ends where the first record begins.
        indexEnd = std::min<uint64_t>(indexEnd, nlsRecordOffset(r));
        if (named != nullptr) ++*named;
        ListedMessage m;
        m.number = n;
        m.indexEnd = ix + 2;
        m.recordStart = nlsRecordOffset(r);
        uint64_t pos = m.recordStart;
        const char* fault = nullptr;
        for (;;) {
            if (pos + 2 > file.size()) {
                fault = "a segment header lies past the end of the file";
                break;
            }
            const NlsSegmentHeader h = nlsDecodeSegment(u + pos);
            pos += 2;
            if (pos + h.responseLen + h.textLen > file.size()) {
                fault = "a segment runs past the end of the file";
                break;
            }
            if (h.textLen == 0) {
                fault = "a segment has no text";
                break;
            }
            if (h.responseLen > 0) m.response = file.substr(pos, h.responseLen);
            pos += h.responseLen;
            m.text.append(file, pos, h.textLen);
            pos += h.textLen;
            if (m.segments > 0 && h.severity != m.severity) m.mixedSeverities = true;
            m.severity = h.severity;
            ++m.segments;
            if (m.text.size() > kNlsTextBufferSize) {
                fault = "its text is longer than a message buffer holds";
                break;
            }
            if (!h.continued) break;
        }
        if (fault != nullptr) {
            problems->push_back("message " + std::to_string(n) + ": " + fault);
            continue;
        }
        m.recordEnd = pos;
        out.push_back(m);
    }
    return out;
}

bool sourceLine(const ListedMessage& m, std::string* line, std::string* why) {
    std::string text;
    if (m.text.empty()) {
        *why = "it has no text";
        return false;
    }
    if (static_cast<uint8_t>(m.text[0]) == kNlsFormPrintf) {
        text = m.text.substr(1);
    } else if (static_cast<uint8_t>(m.text[0]) == kNlsFormOrdered) {
        if (!orderedSource(m.text, &text, why)) return false;
    } else {
        *why = "its text has neither the printf nor the ordered-insert form";
        return false;
    }
    if (text.find('\0') != std::string::npos || m.response.find('\0') != std::string::npos) {
        *why = "its text or response holds a NUL";
        return false;
    }
    std::string s = std::to_string(m.number) + ' ';
    if (m.severity < kNlsSeverityCount) {
        s.push_back(kNlsSeverityLetters[m.severity]);
    } else {
        s += std::to_string(m.severity);
    }
    if (!m.response.empty()) s += " response \"" + escape(m.response) + '"';
    s += " \"" + escape(text) + "\"\n";
    *line = s;
    return true;
}

}  // namespace jbbtool
