// jbbtool msgc [--force] SOURCE REPO: compiles a message source (msgsource.h) into a
// repository file.  jbbtool msgc --list REPO: writes a repository back as
// source, so that compiling the listing gives the same file byte for byte.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "msgsource.h"
#include "nlsform.h"
#include "nlsformat.h"
#include "platform.h"
#include "repocheck.h"
#include "safeoutput.h"

namespace jbbtool {

namespace {

bool isOurRepository(const std::string& head) { return head.compare(0, sizeof kNlsFileTag - 1, kNlsFileTag) == 0; }

// What msgc may replace: a repository it wrote, known by its tag.
const OutputKind kRepositoryKind = {"a message repository msgc wrote", isOurRepository, sizeof kNlsFileTag - 1};

int compile(const char* sourcePath, const char* repoPath, bool force) {
    std::string source;
    std::string why;
    if (!readWholeFile(sourcePath, 64LL << 20, &source, &why)) {
        std::fprintf(stderr, "jbbtool msgc: cannot read '%s': %s\n", sourcePath, why.c_str());
        return kExitUsage;
    }
    std::vector<SourceMessage> messages;
    std::string file;
    if (!parseSource(source, sourcePath, &messages, &why) || !buildRepository(&messages, sourcePath, &file, &why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return kExitUsage;
    }
    SafeOutput repo(repoPath, {sourcePath}, kRepositoryKind, force);
    FILE* out = repo.open(&why);
    if (out != nullptr && std::fwrite(file.data(), 1, file.size(), out) != file.size())
        why = "cannot write " + repo.target() + ": " + plat::errnoText(errno != 0 ? errno : EIO);
    else if (out != nullptr && repo.commit(&why))
        return kExitSound;
    std::fprintf(stderr, "jbbtool msgc: %s\n", why.c_str());
    return kExitUsage;
}

bool sameMessage(const ListedMessage& a, const ListedMessage& b) {
    return a.number == b.number && a.severity == b.severity && a.response == b.response && a.text == b.text &&
           a.mixedSeverities == b.mixedSeverities;
}

int list(const char* repoPath) {
    std::string file;
    std::string why;
    const auto notRepository = [&](const std::string& reason) {
        std::fprintf(stderr, "jbbtool msgc: %s: not a message repository (%s)\n", repoPath, reason.c_str());
        return kExitFindings;
    };
    int64_t size = 0;
    if (plat::fileSize(repoPath, &size) && size > kMaxRepositoryBytes)
        return notRepository("too large for a message repository");
    if (!readWholeFile(repoPath, kMaxRepositoryBytes, &file, &why)) {
        std::fprintf(stderr, "jbbtool msgc: cannot read '%s': %s\n", repoPath, why.c_str());
        return kExitUsage;
    }
    std::vector<std::string> problems;
    int named = 0;
    const std::vector<ListedMessage> messages = readRepository(file, &problems, &named);
    const std::string notOne = notARepository(file, messages, named);
    if (!notOne.empty()) return notRepository(notOne);
    std::string listing;
    std::vector<ListedMessage> listed;
    for (const ListedMessage& m : messages) {
        std::string line;
        if (sourceLine(m, &line, &why)) {
            listing += line;
            listed.push_back(m);
        } else {
            problems.push_back("message " + std::to_string(m.number) + ": " + why);
        }
    }
    plat::outWriteNarrow(listing.data(), listing.size());  // the texts in the repository's code page
    // The listing must compile back: to this very file when msgc wrote it;
    // to the same messages when another compiler did, which may lay out
    // its index and records otherwise.
    const bool ours = file.compare(0, sizeof kNlsFileTag - 1, kNlsFileTag) == 0;
    std::vector<SourceMessage> again;
    std::string rebuilt;
    if (!parseSource(listing, "listing", &again, &why) || !buildRepository(&again, "listing", &rebuilt, &why)) {
        problems.push_back(why);
    } else {
        bool same = rebuilt == file;
        if (!ours) {
            const std::vector<ListedMessage> relisted = readRepository(rebuilt, &problems);
            same = std::equal(listed.begin(), listed.end(), relisted.begin(), relisted.end(), sameMessage);
        }
        if (!same) problems.push_back("the listing compiles to a different file");
    }
    for (const std::string& p : problems) std::fprintf(stderr, "jbbtool msgc: %s: %s\n", repoPath, p.c_str());
    return problems.empty() ? kExitSound : kExitFindings;
}

int run(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--list") == 0) return list(argv[2]);
    const bool force = argc == 4 && std::strcmp(argv[1], "--force") == 0;
    if (argc == 3 + force && argv[1 + force][0] != '-') return compile(argv[1 + force], argv[2 + force], force);
    return usageError("msgc", "expected [--force] SOURCE REPO or --list REPO");
}

void help(FILE* out) {
    std::fprintf(out,
                 "Usage: jbbtool msgc [--force] SOURCE REPO\n"
                 "       jbbtool msgc --list REPO\n"
                 "\n"
                 "Compiles the message source SOURCE into the message repository REPO, or\n"
                 "writes the repository REPO back as source on standard output.\n"
                 "\n"
                 "REPO is written anew and renamed into place once whole; REPO - is\n"
                 "standard output.  A REPO that is SOURCE itself, a symbolic link, a file\n"
                 "with more than one hard link or no regular file is left as it is, and so\n"
                 "is an existing file that is not a repository msgc wrote (exit 2).\n"
                 "  --force  replace a REPO of any other content as well\n"
                 "\n"
                 "A source line is one message:  NUMBER SEVERITY [response \"R\"] \"TEXT\"\n"
                 "  NUMBER    1 to 65535\n"
                 "  SEVERITY  Z T R K I W E S L (codes 0 to 8) or a code 0 to 15; K I W E S\n"
                 "            and codes 9 to 15 (letters A B C D F G H) put the message\n"
                 "            identifier (QLX0106E) in front of the text\n"
                 "  TEXT      escapes \\n \\t \\r \\\\ \\\" \\xHH; a printf format, or with\n"
                 "            positional conversions (%%2$s, %%1$d, %%1$ls, %%3$lld, stars as\n"
                 "            *N$) the ordered-insert form: at most 10 inserts, each taking\n"
                 "            its star values and then its value\n"
                 "Blank lines and lines starting with # are ignored.\n"
                 "\n"
                 "--list reads a repository that another compiler wrote as well; its listing\n"
                 "compiles to the same messages (a repository msgc wrote: to the same file).\n"
                 "\n"
                 "Exit status: 0 done; 1 --list met messages it cannot write as source, a\n"
                 "listing that would not compile back, or a file that is not a message\n"
                 "repository; 2 usage, an unreadable file, a fault in the source\n"
                 "(FILE:LINE: reason; no repository is written), or a REPO left as it is.\n");
}

}  // namespace

extern const Command kMsgcCommand = {"msgc", "compile a message source, or list a message repository", run, help};

}  // namespace jbbtool
