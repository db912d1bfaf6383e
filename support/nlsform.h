// Reading the two message text forms of the repository (nlsformat.h):
// the printf conversions of a text, and the layout of the ordered-insert
// form.  Shared by the formatter (nlsinsert.cpp) and the message compiler.
//
// Code pages.  With the code-page switch on, a text read from the
// repository is converted whole as it is read.  That conversion works on
// NUL-terminated text and so stops at the first byte of the ordered form,
// which is 0: it converts an identifier in front, and never reaches the
// ordered form's pieces.  The formatter therefore converts every non-empty
// piece of an ordered text itself, whatever the switch; the switch governs
// the printf form and the identifier only.  A repository written in code
// page 850 thus shows its ordered texts converted even with the switch off.
//
// Inserts whose conversion and kind disagree.  The kind says what the
// caller passes (NlsKind); the conversion in the file may ask for
// something else (%ld or %I64d with kind 1, %d with kind 3).  The
// formatter takes the value by its kind and formats it with the length
// modifier that the kind passes ("" for kinds 1 and 2, "ll" for kind 3);
// only an insert that no modifier makes safe (a text conversion with an
// integer kind, an integer conversion with a text, a floating-point
// conversion, %n, %p) shows empty, and the rest of the message stands.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nlsformat.h"

// What a conversion takes from the arguments.
enum class NlsArgType : uint8_t {
    None,        // %% takes nothing
    Int,         // int (d i o u x X with hh, h, I32 or nothing; c, hc, lc and C)
    Long,        // long (l with d i o u x X)
    LongLong,    // long long (ll, I64 or L with d i o u x X)
    IntMax,      // intmax_t (j with d i o u x X)
    Size,        // size_t (z with d i o u x X)
    PtrDiff,     // ptrdiff_t (t with d i o u x X)
    Double,      // double (e E f F g G a A, also with l)
    LongDouble,  // long double (L with e E f F g G a A)
    Text,        // narrow text (s, hs)
    WideText,    // wide text (ls, S)
    Pointer,     // a pointer shown as the run-time shows it (p)
    Refused,     // %n, which would write through a pointer: its pointer is
                 // taken and nothing is written or shown
};

// Flags of a conversion (NlsConversion::flags).
constexpr uint8_t kNlsFlagLeft = 1;   // -
constexpr uint8_t kNlsFlagPlus = 2;   // +
constexpr uint8_t kNlsFlagSpace = 4;  // blank
constexpr uint8_t kNlsFlagAlt = 8;    // #
constexpr uint8_t kNlsFlagZero = 16;  // 0

// Widths and precisions written in a text are read whatever their length
// and held to this value (far beyond any message buffer).
constexpr uint64_t kNlsNumberCeiling = 0xFFFFFFFFu;

// One conversion specification, "%[N$][flags][width|*[M$]][.prec|.*[M$]][len]conv".
struct NlsConversion {
    size_t length = 0;              // characters from the % to the conversion character, both included
    char conv = 0;                  // the conversion character as written
    char outConv = 0;               // as handed to the run-time (S and C become s and c)
    char lenMod[4] = {0, 0, 0, 0};  // "", "hh", "h", "l", "ll", "j", "z", "t", "L", "I32" or "I64"
                                    // ("l" also for S and C, which write none)
    uint8_t modLength = 0;          // characters of the modifier written just before conv
    uint8_t flags = 0;              // kNlsFlag...
    int stars = 0;                  // star values taken before the value (width, precision)
    bool hasWidth = false;          // a width in digits
    bool hasPrec = false;           // a precision in digits (a lone '.' is 0)
    uint64_t width = 0;             // held to kNlsNumberCeiling
    uint64_t prec = 0;
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
    bool wide = false;                  // mask bit set
    char spec[kNlsMaxSpec + 1] = {};    // as stored in the file
    char format[kNlsMaxSpec + 2] = {};  // as formatted: an l put in for a wide s or c
    NlsConversion conv;                 // the conversion read (with the wide l applied)
    // The ordered insert holds no conversion ("abc", "50%%"): it is shown
    // as printf shows it, and its star values and value are taken all the
    // same.  conv.type is then None.
    bool literal = false;
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
// that differs from the stars of the conversion, a kind above 3, or a
// specification that is not NUL-terminated within kNlsMaxSpec characters
// or holds anything but exactly one conversion or none (a % that begins
// no conversion, text around a conversion).  A conversion that its kind does not
// feed as it stands is read all the same (see above).  The last piece may
// end at the text's end instead of a NUL.
bool nlsParseOrdered(const char* text, size_t len, NlsOrdered* out, const char** why);

// True when an insert of `kind` passes exactly what the conversion `c`
// takes, with nothing to normalise (kind 0: s, ls; kinds 1 and 2: c, lc
// and d i o u x X without l or ll; kind 3: d i o u x X with ll or I64):
// the inserts the message compiler writes.
bool nlsKindFeeds(uint8_t kind, const NlsConversion& c);

// True for the integer conversions d i o u x X.
bool nlsIntegerConversion(char conv);
