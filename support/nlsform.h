// Reading the two message text forms of the repository (nlsformat.h):
// the printf conversions of a text, and the layout of the ordered-insert
// form.  Shared by the formatter (nlsinsert.cpp) and the message compiler.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nlsformat.h"

// What a conversion takes from the arguments.
enum class NlsArgType : uint8_t {
    None,      // %% takes nothing
    Int,       // int (d i o u x X c, with hh or h too; lc takes a wide character as int)
    Long,      // long (l with d i o u x X)
    LongLong,  // long long (ll with d i o u x X)
    Double,    // double (e E f F g G a A)
    Text,      // narrow text (s)
    WideText,  // wide text (ls)
    Refused,   // a conversion that is never formatted: %n writes through a
               // pointer and %p shows an address
};

// One conversion specification, "%[N$][flags][width|*[M$]][.prec|.*[M$]][len]conv".
struct NlsConversion {
    size_t length = 0;  // characters from the % to the conversion character, both included
    char conv = 0;      // the conversion character
    char lenMod[3] = {0, 0, 0};  // "", "hh", "h", "l" or "ll"
    int stars = 0;      // star values taken before the value (width, precision)
    // Positional numbers (1 up), 0 when not given: the value, the width
    // star and the precision star.
    unsigned pos = 0;
    unsigned widthPos = 0;
    unsigned precPos = 0;
    bool starWidth = false;
    bool starPrec = false;
    NlsArgType type = NlsArgType::None;
};

// Reads the conversion at s[0] == '%' among the `avail` characters of s.
// Positional numbers are read only when `positional` is true.  False when
// the text there is no complete conversion this library formats.
bool nlsScanConversion(const char* s, size_t avail, bool positional, NlsConversion* out);

// The ordered-insert form of a message text, read and checked.
struct NlsInsert {
    uint8_t stars = 0;
    uint8_t kind = 0;
    bool wide = false;                // mask bit set
    char spec[kNlsMaxSpec + 1] = {};    // as stored in the file
    char format[kNlsMaxSpec + 2] = {};  // as formatted: an l put in for a wide s or c
    NlsConversion conv;               // the conversion read (with the wide l applied)
};

struct NlsOrdered {
    uint32_t mask = 0;
    int count = 0;  // inserts, 0 to kNlsMaxInserts
    uint8_t order[kNlsMaxInserts] = {};
    NlsInsert insert[kNlsMaxInserts];
    const char* piece[kNlsMaxInserts + 1] = {};
    size_t pieceLen[kNlsMaxInserts + 1] = {};
};

// Reads the ordered-insert text text[0..len) (text[0] is 0).  False, with a
// reason in *why, when the layout runs past the text or is one the
// formatter refuses: more than kNlsMaxInserts inserts, an order list that
// does not name every insert exactly once, a star count above 2 or one
// that differs from the stars of the conversion, a kind above 3, a
// specification that is not NUL-terminated within kNlsMaxSpec characters
// or is not exactly one conversion, or a conversion that the kind cannot
// feed (kind 0: s, ls; kinds 1 and 2: c, lc and d i o u x X without l or
// ll; kind 3: d i o u x X with ll).  The last piece may end at the text's
// end instead of a NUL.
bool nlsParseOrdered(const char* text, size_t len, NlsOrdered* out, const char** why);

// True when the conversion `c` is one that an insert of `kind` feeds.
bool nlsKindFeeds(uint8_t kind, const NlsConversion& c);
