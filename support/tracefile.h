// The trace file format.
//
// Wrapping trace file (and every segment file of a segment ring):
//
//   bytes  0-11  "ZEP Trace   "
//   bytes 12-23  offset of the next write, "%-12u" (decimal, blank-filled;
//                "123456789012" while the file is being created)
//   bytes 24-33  maximum size in MB, "%-10u"
//   bytes 34-    " Quillstore 6.1.1.00 090824B Build date: ", the build date
//                text (traceBuildDate, 25 characters with a leading blank),
//                "\n\n"
//   then trace lines.
//
// The header is traceWrapHeaderLength bytes; data starts right after it.
// The newest line is followed by traceEndMarker, at the header's
// next-write offset, and the file's oldest surviving lines follow that
// marker.  Where the file wrapped stands traceWrapMarker; lines are
// written again from the start of data.  On a clean close the end marker
// is traceCloseMarker instead.  Offsets and sizes are 32-bit numbers, so a
// trace file stays below 4 GB.
//
// Segment ring: files BASE.1 to BASE.N, each with the wrapping header.  A
// full segment ends (at its next-write offset) with
// "\nContinued at beginning of segment %u\n\n" naming the next one; that
// one is created anew and begins with "Continued from end of segment
// %u\n\n" naming the one before.
//
// Non-wrapping trace file: opened for appending; every open writes
// "ZEP Trace   Quillstore 6.1.1.00 090824B\nBuild Date: %s\n"
// "BEGINNING NEW TRACE\n\n" (with the build date text), then lines.
//
// A wrapping log file (error log, echo log) begins with "LOGHEADERREC "
// and its next-write offset, "%-12lu".
//
// Line ends: every build, on Windows too, writes these files in binary
// mode, so every line ends in LF and every offset is a byte offset.  A
// header written by a text-mode writer (a Windows program that did not ask
// for binary mode) ends its lines in CR LF: such a wrapping trace file
// ("...\r\n\r\n", data two bytes later) and such a log
// ("LOGHEADERREC %-12lu\r\n") are recognised, continued and read all the
// same, and a resumed trace header keeps its CR LF.
//
// Whose file: a non-empty file that does not begin with traceMagic (trace
// files) or logHeaderMagic (logs) is not ours and is never written.
#pragma once

#include <cstddef>

// The build date text, fixed when the program is built.
extern const char traceBuildDate[];

constexpr char traceMagic[] = "ZEP Trace   ";
constexpr size_t traceMagicLength = sizeof traceMagic - 1;
constexpr size_t traceOffsetField = 12;    // "%-12u" at byte 12
constexpr size_t traceMaxSizeOffset = 24;  // "%-10u" at byte 24
constexpr char traceOffsetPlaceholder[] = "123456789012";
// Bytes 24 on: maximum size, product text, build date, two newlines.
constexpr char traceHeaderTailFormat[] = "%-10u Quillstore 6.1.1.00 090824B Build date: %s\n\n";
constexpr size_t traceBuildDateLength = 25;
constexpr size_t traceWrapHeaderLength =
    traceMaxSizeOffset + 10 + sizeof " Quillstore 6.1.1.00 090824B Build date: " - 1 + traceBuildDateLength + 2;
// Longest first line read when a wrapping file is resumed.
constexpr size_t traceHeaderReadLimit = 256;
// The largest maximum size (and segment size) in MB: header offsets are
// 32-bit numbers.
constexpr unsigned traceMaxSizeLimitMB = 4095;

constexpr char traceEndMarker[] = "\nEND OF DATA\n\n";
constexpr char traceCloseMarker[] = "\nEND OF DATA - close\n\n";
constexpr char traceWrapMarker[] = "\nContinued at beginning of file\n\n";
constexpr char traceSegmentEndFormat[] = "\nContinued at beginning of segment %u\n\n";
constexpr char traceSegmentStartFormat[] = "Continued from end of segment %u\n\n";
// The texts of the two segment lines before their numbers.
constexpr char traceSegmentEndPrefix[] = "\nContinued at beginning of segment ";
constexpr char traceSegmentStartPrefix[] = "Continued from end of segment ";
constexpr char traceNewTrace[] = "BEGINNING NEW TRACE\n\n";
// The non-wrapping header up to its build date text.
constexpr char tracePlainHeaderStart[] = "ZEP Trace   Quillstore 6.1.1.00 090824B\nBuild Date: ";
constexpr char tracePlainHeaderFormat[] =
    "ZEP Trace   Quillstore 6.1.1.00 090824B\nBuild Date: %s\nBEGINNING NEW TRACE\n\n";
// Extra room the wrap check reserves beyond the text about to be written.
constexpr long long traceWrapReserve = 17;

constexpr char logHeaderFormat[] = "LOGHEADERREC %-12lu";
constexpr char logHeaderMagic[] = "LOGHEADERREC";

// Wrapping log file (the message repository's error log and echo log), in
// full.  The first line is the header: "LOGHEADERREC ", the next-write
// offset "%-12lu", "\n" (logHeaderLength bytes; records start right after
// it).  Each record is one text, the error log's (and the echo log's at the
// start of a line) preceded by the date text, a blank, the time text and a
// blank.  The newest record is followed, at the header's next-write offset,
// by logEndOfDataText and "\n".  When a record would not fit within the
// log's maximum size, logWrapText is written at the next-write offset, the
// rest of the file up to the maximum size is filled with a line of blanks
// ending in "*" ("%*s\n"), and records are written again from the start of
// data; older records then follow the end-of-data marker up to logWrapText.
constexpr size_t logHeaderLength = 26;
constexpr char logEndOfDataText[] = "\nEND OF DATA";
constexpr char logWrapText[] = "\nContinued at beginning of file\n";
