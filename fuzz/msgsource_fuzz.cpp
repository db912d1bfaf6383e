// Feeds arbitrary bytes to the message-source reader behind jbbtool msgc
// as a source file, and holds it to what msgc promises:
//  - a source refused is refused with "FILE:LINE: reason" for a line the
//    input has;
//  - a source accepted compiles to a repository that lists back in full
//    (msgc --list), every message as a source line, and the listing
//    compiles to the same file byte for byte.
// A broken promise aborts, so that the fuzzing engine keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "msgsource.h"

namespace {

[[noreturn]] void broken(const char* what, const std::string& detail) {
    std::fprintf(stderr, "msgsource_fuzz: %s: %s\n", what, detail.c_str());
    std::abort();
}

}  // namespace

// For the driver without a fuzzing engine (text_replay_main.cpp).
extern const char kReplayName[] = "msgsource";
extern const char kReplaySignificant[] = "%$*.\"\\\n lhI64x0123456789dscuEKSZ#";
extern const char kReplayFinding[] = "msgsource-finding.msg";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace jbbtool;
    if (size > (1u << 16)) return 0;
    const std::string source(reinterpret_cast<const char*>(data), size);
    std::vector<SourceMessage> messages;
    std::string why;
    std::string file;
    if (!parseSource(source, "in.msg", &messages, &why) || !buildRepository(&messages, "in.msg", &file, &why)) {
        size_t lines = 1;
        for (const char c : source) lines += c == '\n' ? 1 : 0;
        const size_t colon = why.find(':', 7);
        if (why.compare(0, 7, "in.msg:") != 0 || colon == std::string::npos || colon == 7) {
            broken("a refusal without FILE:LINE", why);
        }
        const unsigned long line = std::strtoul(why.c_str() + 7, nullptr, 10);
        if (line == 0 || line > lines) broken("a refusal names a line the source does not have", why);
        return 0;
    }
    std::vector<std::string> problems;
    const std::vector<ListedMessage> listed = readRepository(file, &problems);
    if (!problems.empty()) broken("a compiled repository does not read back", problems[0]);
    if (listed.size() != messages.size()) broken("a compiled repository lost messages", std::to_string(listed.size()));
    std::string listing;
    for (const ListedMessage& m : listed) {
        std::string line;
        if (!sourceLine(m, &line, &why)) broken("a compiled message cannot be listed", why);
        listing += line;
    }
    std::vector<SourceMessage> again;
    std::string rebuilt;
    if (!parseSource(listing, "listing", &again, &why) || !buildRepository(&again, "listing", &rebuilt, &why)) {
        broken("a listing does not compile", why);
    }
    if (rebuilt != file) broken("a listing compiles to a different file", listing);
    return 0;
}
