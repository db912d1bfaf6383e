// Whether a file is a message repository at all, for `msgc --list` and
// `msg`: a file of another kind read as one yields thousands of made-up
// messages, so it is refused in one line instead.
#pragma once

#include <string>
#include <vector>

#include "msgsource.h"

namespace jbbtool {

// Repositories hold at most 65535 record units of 64 bytes, and the last
// record a little more.
constexpr long long kMaxRepositoryBytes = 8LL << 20;

// Reads the file at `path` whole, refusing one larger than `limit` bytes;
// false with a reason in *why.
bool readWholeFile(const char* path, long long limit, std::string* out, std::string* why);

// True when the message's text is one of the two forms, whole: a printf
// form without a NUL, or an ordered-insert form that the formatter reads.
bool hasMessageText(const ListedMessage& m);

// Why the repository image `file`, whose messages readRepository() gave
// as `messages` (`named` index entries naming a record), is no message
// repository; empty when it is one.  Refused: a file shorter than the
// bytes before the index, one that begins with a journal database's
// control record, one of whose named messages fewer than
// kNlsMinReadablePercent have a text, and one whose records overlap each
// other or the index.
std::string notARepository(const std::string& file, const std::vector<ListedMessage>& messages, int named);

// The same for the file at `path`, read here; empty also when it cannot
// be read (the caller's own open reports that).
std::string notARepositoryFile(const char* path);

}  // namespace jbbtool
