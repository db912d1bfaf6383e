// The message repository file: the one description of its format, shared
// by the reader (nls.cpp) and the message compiler (jbbtool msgc).
//
// All 16-bit numbers in the file are big-endian (high byte first).
//
// Index.  One 16-bit record number per message number n (n from 1) at byte
// offset 2n + 62 (nlsIndexOffset).  The first 64 bytes of the file are not
// read; the compiler writes kNlsFileTag there.  Record number 0 means the
// message does not exist.
//
// Records.  Record r (1 to 65535) begins at byte offset (r - 1) * 64: records
// are counted in 64-byte units from the start of the file, so the first
// records' units overlap the index and a compiler places the first record
// after it.  A record is a chain of segments, each a 2-byte header followed
// by its response bytes and its text bytes, packed without alignment:
//
//   bit  15       continuation: another segment follows this one
//   bits 14..11   severity code 0 to 15
//   bits 10..8    response length, 0 to 7 bytes
//   bits  7..0    text length, 0 to 255 bytes (0 is refused when read)
//
// The texts of a record's segments, in order, form the message text; the
// response of the last segment that has one is the message's response; the
// severity of the last segment is the message's severity.
//
// Severity codes 0 to 8 have the letters "ZTRKIWESL"; a source names a
// severity by these letters or by its code.  Every code above 2 other than
// 8 (K I W E S, and 9 to 15) puts the message identifier in front of the
// text: the prefix, the message number modulo 10000 in four digits, the
// letter and a blank ("%s%04u%c ", QLX0106E and a blank).  The identifiers
// of codes 9 to 15 take the letters A B C D F G H, the first letters of the
// alphabet that no other code uses (code 12 gives QLX0106D).  Codes 9 to
// 15 have no output function and count as 0 in the global return code.
//
// Message text forms, chosen by the text's first byte:
//
//   1    printf form: the rest of the text is a printf format whose
//        arguments are the caller's arguments in order.
//   0    ordered-insert form:
//          byte 0        0
//          bytes 1..4    wide mask, 32 bits high byte first: bit i set means
//                        insert i is a wide text (%s) or wide character (%c)
//          byte 5        n, the number of inserts (signed; 0 or less: none;
//                        at most kNlsMaxInserts)
//          n bytes       order list: the caller's j-th argument (group) is
//                        insert number order[j]
//          n descriptors for inserts 0 to n-1, each: the number of star
//                        values (0 to 2) that come before the insert's value
//                        among the arguments; the kind of the value
//                        (NlsKind); the printf conversion specification of at
//                        most kNlsMaxSpec characters, NUL-terminated
//          n + 1 pieces  NUL-terminated literal texts: piece 0 comes before
//                        insert 0, piece k after insert k - 1
//   any other first byte: the message has no formatted text.
#pragma once

#include <cstdint>

constexpr uint32_t kNlsHeaderSize = 64;     // bytes before the index
constexpr uint32_t kNlsRecordUnit = 64;     // records are counted in these
constexpr uint32_t kNlsMaxRecord = 65535;   // largest record number
constexpr uint32_t kNlsMaxMessage = 65535;  // largest message number
constexpr uint32_t kNlsMaxSegmentText = 255;
constexpr uint32_t kNlsMaxResponse = 7;
constexpr int kNlsMaxInserts = 10;
constexpr int kNlsMaxSpec = 8;  // characters of a conversion specification

// What the compiler writes into the first 64 bytes (zero-padded).
constexpr char kNlsFileTag[] = "JBB message repository 1\n";

// The least share, in percent, of the messages a repository's index names
// whose record holds a readable text (the printf form without a NUL, or an
// ordered-insert form that parses).  A compiler writes only such records,
// and another compiler's repository may hold the odd message that a source
// cannot give but still has its text; any other file read as a repository
// names records at offsets that its own bytes make up, few of which begin
// with a form byte and parse.  Half keeps every repository, sound or
// foreign, and refuses other files long before their listing would run to
// thousands of lines.
constexpr unsigned kNlsMinReadablePercent = 50;

constexpr uint8_t kNlsFormOrdered = 0;
constexpr uint8_t kNlsFormPrintf = 1;

// Kinds of an insert's value in the ordered-insert form.
enum NlsKind : uint8_t {
    kNlsKindText = 0,   // a text (wide when the mask bit is set)
    kNlsKindInt = 1,    // a 32-bit integer
    kNlsKindInt2 = 2,   // a 32-bit integer as well
    kNlsKindInt64 = 3,  // a 64-bit number
};

constexpr char kNlsSeverityLetters[] = "ZTRKIWESL";
constexpr int kNlsSeverityCount = 9;  // codes with a letter of their own (and an output function)
// The identifier's letter of every code 0 to 15.
constexpr char kNlsIdentifierLetters[] = "ZTRKIWESLABCDFGH";
constexpr unsigned kNlsMaxSeverity = 15;

// Offset of message n's index entry: 2 * (((n-1) >> 5) + 1) * 32 +
// 2 * ((n-1) & 31), which is 2n + 62.
constexpr uint64_t nlsIndexOffset(uint32_t n) {
    return 2 * ((((static_cast<uint64_t>(n) - 1) >> 5) + 1) * 32 + ((static_cast<uint64_t>(n) - 1) & 31));
}

constexpr uint64_t nlsRecordOffset(uint32_t r) { return (static_cast<uint64_t>(r) - 1) * kNlsRecordUnit; }

// True when messages of this severity carry the identifier.
constexpr bool nlsHasIdentifier(unsigned severity) {
    return severity > 2 && severity != 8 && severity <= kNlsMaxSeverity;
}

struct NlsSegmentHeader {
    bool continued;
    uint8_t severity;     // 0 to 15
    uint8_t responseLen;  // 0 to 7
    uint8_t textLen;      // 0 to 255
};

inline NlsSegmentHeader nlsDecodeSegment(const unsigned char b[2]) {
    const unsigned v = (static_cast<unsigned>(b[0]) << 8) | b[1];
    return NlsSegmentHeader{(v & 0x8000u) != 0, static_cast<uint8_t>((v >> 11) & 15),
                            static_cast<uint8_t>((v >> 8) & 7), static_cast<uint8_t>(v & 0xFF)};
}

inline void nlsEncodeSegment(const NlsSegmentHeader& h, unsigned char b[2]) {
    const unsigned v =
        (h.continued ? 0x8000u : 0u) | ((h.severity & 15u) << 11) | ((h.responseLen & 7u) << 8) | h.textLen;
    b[0] = static_cast<unsigned char>(v >> 8);
    b[1] = static_cast<unsigned char>(v & 0xFF);
}
