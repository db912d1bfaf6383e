// The lines of a trace file, a segment of a ring, or a log, in the order
// they were written, without headers and markers (layouts in tracefile.h).
// Headers written with CR LF line ends (by a text-mode writer) are read as
// well.  Any bytes may be given; what is not one of these files is
// refused with a reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tracereader {

// One file on its own: a plain trace file (one header per open), a log
// (LOGHEADERREC), or a wrapping trace file.  False, with why, when it is
// none of them or its header points outside it.
bool fileLines(const std::string& bytes, std::string* out, std::string* why);

// True when `bytes` begin with a wrapping trace file's header.
bool isWrappingFile(const std::string& bytes);

// One segment of a ring (a wrapping trace file): its lines, oldest first.
bool segmentLines(const std::string& bytes, std::string* out, std::string* why);

// Of a ring's segments (in the order of their numbers) with their
// modification times, the newest: the one that ends in an end marker, the
// latest of several.
size_t newestSegment(const std::vector<std::string>& segments, const std::vector<int64_t>& times);

}  // namespace tracereader
