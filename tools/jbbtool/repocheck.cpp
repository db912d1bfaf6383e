#include "repocheck.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "journalkind.h"
#include "nlsform.h"
#include "nlsformat.h"
#include "platform.h"

namespace jbbtool {

bool readWholeFile(const char* path, long long limit, std::string* out, std::string* why) {
    FILE* f = plat::openBinary(path, "rb");
    if (f == nullptr) {
        *why = plat::errnoText(errno);
        return false;
    }
    out->clear();
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        out->append(chunk, n);
        if (static_cast<long long>(out->size()) > limit) {
            std::fclose(f);
            *why = "too large for a message repository";
            return false;
        }
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        *why = "read error";
        return false;
    }
    return true;
}

bool hasMessageText(const ListedMessage& m) {
    if (m.text.empty() || m.response.find('\0') != std::string::npos) return false;
    if (static_cast<uint8_t>(m.text[0]) == kNlsFormPrintf) return m.text.find('\0') == std::string::npos;
    NlsOrdered o;
    const char* why = nullptr;
    return static_cast<uint8_t>(m.text[0]) == kNlsFormOrdered &&
           nlsParseOrdered(m.text.data(), m.text.size(), &o, &why);
}

std::string notARepository(const std::string& file, const std::vector<ListedMessage>& messages, int named) {
    if (file.size() < kNlsHeaderSize) return "shorter than the 64 bytes before its index";
    if (startsLikeJournal(file)) return "it begins with a journal database's control record";
    const uint64_t readable = static_cast<uint64_t>(std::count_if(messages.begin(), messages.end(), hasMessageText));
    if (named > 0 && readable == 0)
        return "none of the " + std::to_string(named) + " messages its index names can be read";
    if (readable * 100 < static_cast<uint64_t>(named) * kNlsMinReadablePercent)
        return "only " + std::to_string(readable) + " of the " + std::to_string(named) +
               " messages its index names can be read";
    // Records in file order; messages that share one record are fine.
    uint64_t indexEnd = 0;
    std::vector<const ListedMessage*> byStart;
    for (const ListedMessage& m : messages) {
        indexEnd = std::max(indexEnd, m.indexEnd);
        byStart.push_back(&m);
    }
    std::sort(byStart.begin(), byStart.end(),
              [](const ListedMessage* a, const ListedMessage* b) { return a->recordStart < b->recordStart; });
    for (size_t i = 0; i < byStart.size(); ++i) {
        const ListedMessage& m = *byStart[i];
        if (m.recordStart < indexEnd)
            return "the record of message " + std::to_string(m.number) + " overlaps the index";
        if (i > 0 && byStart[i - 1]->recordStart != m.recordStart && byStart[i - 1]->recordEnd > m.recordStart)
            return "the records of messages " + std::to_string(byStart[i - 1]->number) + " and " +
                   std::to_string(m.number) + " overlap";
    }
    return std::string();
}

std::string notARepositoryFile(const char* path) {
    int64_t size = 0;
    if (plat::fileSize(path, &size) && size > kMaxRepositoryBytes) return "too large for a message repository";
    std::string file, why;
    if (!readWholeFile(path, kMaxRepositoryBytes, &file, &why)) return std::string();
    std::vector<std::string> problems;
    int named = 0;
    const std::vector<ListedMessage> messages = readRepository(file, &problems, &named);
    return notARepository(file, messages, named);
}

}  // namespace jbbtool
