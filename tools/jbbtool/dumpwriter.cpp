#include "dumpwriter.h"

#include "dumpformat.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "headerfields.h"
#include "journal.h"
#include "platform.h"
#include "textout.h"

namespace jbbtool {

namespace {

// The record as a journalRec: a short record reads as zeros behind its
// bytes.
journalRec asJournalRec(const uint8_t* data, uint16_t dataLen) {
    journalRec r;
    std::memset(&r, 0, sizeof r);
    if (dataLen > 0) std::memcpy(&r, data, dataLen < sizeof r ? dataLen : sizeof r);
    return r;
}

std::string hexUnits(const std::u16string& key) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    s.reserve(4 * key.size());
    for (char16_t u : key)
        for (int shift = 12; shift >= 0; shift -= 4) s += kDigits[(u >> shift) & 15];
    return s;
}

}  // namespace

std::string actionWord(uint32_t action) {
    const char* w = actionText(action);
    return w != nullptr ? w : std::to_string(action);
}

bool DumpWriter::flush() {
    if (!buf_.empty() && !plat::outWriteUtf8(buf_.data(), buf_.size())) failed_ = true;
    buf_.clear();
    return !failed();
}

void DumpWriter::head(const uint8_t* area, uint16_t dataLen) {
    if (countOnly_) return;
    size_t used = 0;
    if (area != nullptr)
        for (size_t i = 0; i < appAreaSize; ++i)
            if (area[i] != 0) used = i + 1;
    if (json_) {
        text("{\"schema\":\"jbbtool.dump/1\",\"dataLength\":" + std::to_string(dataLen) +
             ",\"appArea\":" + (area != nullptr ? "\"" + hexBytes(area, used) + "\"" : std::string("null")) + "}\n");
        return;
    }
    text(std::string(kDumpHeadLine) + "\n");
    if (area != nullptr) {
        const JournalArea a = decodeJournalArea(area);
        const journalInfo& ji = a.raw;
        text("# journal type " + std::to_string(ji.journalType) + ", state " + std::to_string(ji.journalState) +
             ", activated " + utcText(ji.activationDate) + ", validated " + utcText(ji.validationDate) +
             ", maximum size " + std::to_string((unsigned long long)ji.maxJournalSize) + "\n# server " +
             jsonBytes(a.server) + ", node " + jsonBytes(a.node) + ", file system " + jsonString(a.fileSystem) + "\n");
    }
    if (dataLen != sizeof(journalRec)) text("%data-length " + std::to_string(dataLen) + "\n");
    if (area != nullptr) text("%app-area " + hexBytes(area, used) + "\n");
}

namespace {

std::u16string unitsOf(const uint8_t* key, uint32_t units) {
    std::u16string k(units, u'\0');
    if (units > 0) std::memcpy(&k[0], key, 2 * (size_t)units);  // UTF-16LE in memory on our targets
    return k;
}

// True for a unit that the name field does not carry as it stands: a
// control character (C0, DEL, C1), which holds the tab and the line ends
// that would break the line, and the escapes a terminal would obey.
bool isControlUnit(uint32_t u) { return u < 0x20 || (u >= 0x7F && u < 0xA0); }

// Writes the name field of an entry at `o`, which has room for 3 bytes a
// unit (the most UTF-8 takes): the key as UTF-8.  Returns its end, or null
// when the key needs a %key line: empty, or with a control character or an
// unpaired surrogate.
char* putNameField(char* o, const uint8_t* key, uint32_t units) {
    if (units == 0) return nullptr;
    size_t i = 0;
    while (i < units) {
#if defined(__SSE2__)
        if (i + 8 <= units) {
            // Eight printable ASCII units at once.
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key + 2 * i));
            const __m128i wide = _mm_and_si128(v, _mm_set1_epi16((short)0xFF80));
            const __m128i ctrl = _mm_and_si128(v, _mm_set1_epi16((short)0xFFE0));
            const __m128i zero = _mm_setzero_si128();
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(wide, zero)) == 0xFFFF &&
                _mm_movemask_epi8(_mm_cmpeq_epi16(ctrl, zero)) == 0 &&
                _mm_movemask_epi8(_mm_cmpeq_epi16(v, _mm_set1_epi16(0x7F))) == 0) {
                _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(v, v));
                o += 8;
                i += 8;
                continue;
            }
        }
#endif
        uint32_t u;
        {
            uint16_t w;
            std::memcpy(&w, key + 2 * i, sizeof w);
            u = w;
        }
        ++i;
        if (isControlUnit(u)) return nullptr;
        if (u < 0x80) {
            *o++ = (char)u;
            continue;
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            uint16_t low = 0;
            if (i < units) std::memcpy(&low, key + 2 * i, sizeof low);
            if (u > 0xDBFF || i == units || low < 0xDC00 || low > 0xDFFF) return nullptr;
            ++i;
            u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00u);
        }
        if (u < 0x800) {
            *o++ = (char)(0xC0 | (u >> 6));
        } else if (u < 0x10000) {
            *o++ = (char)(0xE0 | (u >> 12));
            *o++ = (char)(0x80 | ((u >> 6) & 0x3F));
        } else {
            *o++ = (char)(0xF0 | (u >> 18));
            *o++ = (char)(0x80 | ((u >> 12) & 0x3F));
            *o++ = (char)(0x80 | ((u >> 6) & 0x3F));
        }
        *o++ = (char)(0x80 | (u & 0x3F));
    }
    return o;
}

// Writes the decimal digits of n at `o` (room for 10); returns their end.
char* putNumber(char* o, uint32_t n) { return std::to_chars(o, o + 10, n).ptr; }

// Writes the text s at `o`; returns its end.
char* putText(char* o, const char* s) {
    const size_t n = std::strlen(s);
    std::memcpy(o, s, n);
    return o + n;
}

}  // namespace

std::string nameField(const std::u16string& key, std::string* keyLine) {
    keyLine->clear();
    std::u16string shown = key;
    bool plain = !key.empty();
    for (size_t i = 0; i < shown.size(); ++i) {
        const char16_t u = shown[i];
        if (isControlUnit(u)) {
            shown[i] = 0xFFFD;
            plain = false;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            if (u <= 0xDBFF && i + 1 < shown.size() && shown[i + 1] >= 0xDC00 && shown[i + 1] <= 0xDFFF)
                ++i;
            else
                plain = false;
        }
    }
    if (!plain) *keyLine = "%key " + hexUnits(key) + "\n";
    return shown.empty() ? std::string("-") : toUtf8(shown);
}

void DumpWriter::entry(const std::u16string& key, const uint8_t* data, uint16_t dataLen) {
    entry(reinterpret_cast<const uint8_t*>(key.data()), (uint32_t)key.size(), data, dataLen);
}

void DumpWriter::entryJson(const std::u16string& key, const uint8_t* data, uint16_t dataLen) {
    journalRec r = asJournalRec(data, dataLen);
    text("{\"key\":" + jsonString(key) + ",\"action\":" + std::to_string(r.action) +
         ",\"objectType\":" + std::to_string(r.objectType) + ",\"inserted\":" + std::to_string(r.insertedTime) +
         ",\"objectTime\":" + std::to_string(r.objectTime) + ",\"record\":\"" + hexBytes(data, dataLen) + "\"}\n");
}

void DumpWriter::entry(const uint8_t* key, uint32_t units, const uint8_t* data, uint16_t dataLen) {
    if (filter_ != nullptr && !filter_->matches(key, units, data, dataLen)) return;
    ++matched_;
    if (countOnly_) {
        // nothing to write
    } else if (json_) {
        entryJson(unitsOf(key, units), data, dataLen);
    } else {
        journalRec r = asJournalRec(data, dataLen);
        bool plain = dataLen == sizeof r;
        for (size_t i = 0; plain && i < sizeof r.opaque; ++i) plain = r.opaque[i] == 0;
        // The line is laid out in place, in room for the longest it can
        // be: a %record line, the longest action word (16 bytes) and type
        // number, times given as numbers, and 3 UTF-8 bytes a key unit.
        std::string& b = buf_;
        const size_t lineStart = b.size();
        b.resize(lineStart + 8 + 2 * (size_t)dataLen + 1 + 16 + 1 + 10 + 1 + 2 * (kUtcTextMax + 1) + 3 * (size_t)units +
                 1);
        char* const line = &b[lineStart];
        char* o = line;
        if (!plain) {
            // Journals whose records all carry their last 8 bytes have such
            // a line for every entry.
            static const char kDigits[] = "0123456789abcdef";
            o = putText(o, "%record ");
            for (size_t i = 0; i < dataLen; ++i) {
                *o++ = kDigits[data[i] >> 4];
                *o++ = kDigits[data[i] & 15];
            }
            *o++ = '\n';
        }
        const char* w = actionText(r.action);
        o = w != nullptr ? putText(o, w) : putNumber(o, r.action);
        *o++ = '\t';
        o = r.objectType == 1   ? putText(o, "file")
            : r.objectType == 2 ? putText(o, "directory")
                                : putNumber(o, r.objectType);
        *o++ = '\t';
        o = putUtcText(o, r.insertedTime);
        *o++ = '\t';
        o = putUtcText(o, r.objectTime);
        *o++ = '\t';
        // The name goes last on the line; only once it is written is it
        // known whether the entry needs a %key line first (nameField).
        if (char* end = putNameField(o, key, units)) {
            *end++ = '\n';
            b.resize((size_t)(end - b.data()));
        } else {
            std::string keyLine;
            const std::string shown = nameField(unitsOf(key, units), &keyLine);
            std::string lines(line, o);
            b.resize(lineStart);
            b += keyLine;
            b += lines;
            b += shown;
            b += '\n';
        }
    }
    if (buf_.size() >= kFlushBytes) flush();
}

}  // namespace jbbtool
