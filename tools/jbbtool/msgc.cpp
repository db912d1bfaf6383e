// jbbtool msgc SOURCE REPO: compiles a message source (msgsource.h) into a
// repository file.  jbbtool msgc --list REPO: writes a repository back as
// source, so that compiling the listing gives the same file byte for byte.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "msgsource.h"
#include "platform.h"

namespace jbbtool {

namespace {

// Repositories hold at most 65535 record units of 64 bytes, and the last
// record a little more.
constexpr long long kMaxRepositoryBytes = 8LL << 20;

bool readWhole(const char* path, long long limit, std::string* out, std::string* why) {
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

int compile(const char* sourcePath, const char* repoPath) {
    std::string source;
    std::string why;
    if (!readWhole(sourcePath, 64LL << 20, &source, &why)) {
        std::fprintf(stderr, "jbbtool msgc: cannot read '%s': %s\n", sourcePath, why.c_str());
        return kExitUsage;
    }
    std::vector<SourceMessage> messages;
    std::string file;
    if (!parseSource(source, sourcePath, &messages, &why) ||
        !buildRepository(&messages, sourcePath, &file, &why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return kExitUsage;
    }
    FILE* out = plat::openBinary(repoPath, "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "jbbtool msgc: cannot write '%s': %s\n", repoPath,
                     plat::errnoText(errno).c_str());
        return kExitUsage;
    }
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (std::fclose(out) != 0 || !written) {
        std::remove(repoPath);
        std::fprintf(stderr, "jbbtool msgc: cannot write '%s'\n", repoPath);
        return kExitUsage;
    }
    return kExitSound;
}

int list(const char* repoPath) {
    std::string file;
    std::string why;
    if (!readWhole(repoPath, kMaxRepositoryBytes, &file, &why)) {
        std::fprintf(stderr, "jbbtool msgc: cannot read '%s': %s\n", repoPath, why.c_str());
        return kExitUsage;
    }
    std::vector<std::string> problems;
    const std::vector<ListedMessage> messages = readRepository(file, &problems);
    std::string listing;
    for (const ListedMessage& m : messages) {
        std::string line;
        if (sourceLine(m, &line, &why)) {
            listing += line;
        } else {
            problems.push_back("message " + std::to_string(m.number) + ": " + why);
        }
    }
    plat::outWriteNarrow(listing.data(), listing.size());  // the texts in the repository's code page
    // The listing must compile back to this very file.
    std::vector<SourceMessage> again;
    std::string rebuilt;
    if (!parseSource(listing, "listing", &again, &why) ||
        !buildRepository(&again, "listing", &rebuilt, &why)) {
        problems.push_back(why);
    } else if (rebuilt != file) {
        problems.push_back("the listing compiles to a different file");
    }
    for (const std::string& p : problems) std::fprintf(stderr, "jbbtool msgc: %s: %s\n", repoPath, p.c_str());
    return problems.empty() ? kExitSound : kExitFindings;
}

int run(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--list") == 0) return list(argv[2]);
    if (argc == 3 && argv[1][0] != '-') return compile(argv[1], argv[2]);
    return usageError("msgc", "expected SOURCE REPO or --list REPO");
}

void help(FILE* out) {
    std::fprintf(out,
                 "Usage: jbbtool msgc SOURCE REPO\n"
                 "       jbbtool msgc --list REPO\n"
                 "\n"
                 "Compiles the message source SOURCE into the message repository REPO, or\n"
                 "writes the repository REPO back as source on standard output.\n"
                 "\n"
                 "A source line is one message:  NUMBER SEVERITY [response \"R\"] \"TEXT\"\n"
                 "  NUMBER    1 to 65535\n"
                 "  SEVERITY  Z T R K I W E S L (codes 0 to 8) or a code 0 to 15; K I W E S\n"
                 "            put the message identifier (QLX0106E) in front of the text\n"
                 "  TEXT      escapes \\n \\t \\r \\\\ \\\" \\xHH; a printf format, or with\n"
                 "            positional conversions (%%2$s, %%1$d, %%1$ls, %%3$lld, stars as\n"
                 "            *N$) the ordered-insert form: at most 10 inserts, each taking\n"
                 "            its star values and then its value\n"
                 "Blank lines and lines starting with # are ignored.\n"
                 "\n"
                 "Exit status: 0 done; 1 --list met messages it cannot write as source, or\n"
                 "a listing that would not compile back to the same file; 2 usage, an\n"
                 "unreadable file, or a fault in the source (FILE:LINE: reason; no\n"
                 "repository is written).\n");
}

}  // namespace

extern const Command kMsgcCommand = {"msgc", "compile a message source, or list a message repository", run,
                                     help};

}  // namespace jbbtool
