// make_sample NAME: writes NAME.jbbdb, a sample change journal of a
// Windows file system (2500 entries) for trying the viewer out.
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "dbreader.h"
#include "dbwriter.h"

using namespace testdb;

namespace {

const char* const kUsers[] = {"Administrator", "Zoë", "jdoe", "Public", "Søren", "mmüller"};
const char* const kFolders[] = {"Documents",
                                "Documents\\Projects",
                                "Documents\\Letters",
                                "Pictures\\2009",
                                "Pictures\\Été",
                                "Downloads",
                                "Desktop",
                                "Music\\Björk",
                                "AppData\\Local\\Temp",
                                "AppData\\Roaming\\Notes",
                                "Videos",
                                "Favorites"};
const char* const kStems[] = {"report", "budget", "notes",  "photo",     "invoice", "draft",
                              "backup", "plan",   "résumé", "übersicht", "todo",    "minutes"};
const char* const kExtensions[] = {".docx", ".xlsx", ".txt", ".jpg", ".pdf", ".pst", ".zip"};
const char* const kSystemFiles[] = {
    "C:\\Windows\\System32\\drivers\\etc\\hosts",
    "C:\\Windows\\System32\\config\\SOFTWARE",
    "C:\\Windows\\Temp",
    "C:\\Program Files\\Quillstore\\journal\\journal.log",
    "C:\\ProgramData\\Microsoft\\Search\\Data\\Applications\\Windows\\Windows.edb",
};
const uint32_t kActions[] = {1, 2, 3, 4, 5, 6, 11};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: make_sample NAME   (writes NAME.jbbdb)\n");
        return 2;
    }
    const std::string path = std::string(argv[1]) + ".jbbdb";

    std::set<std::string> names = {"C:\\Users\\Zoë\\Documents\\Résumé.docx"};
    for (const char* s : kSystemFiles) names.insert(s);
    for (unsigned i = 0; names.size() < 2500; ++i) {
        std::string user = kUsers[i % 6];
        std::string folder = kFolders[(i / 6) % 12];
        std::string base = "C:\\Users\\" + user + "\\" + folder;
        if (i % 11 == 0) {
            names.insert(base);  // the folder itself
            continue;
        }
        names.insert(base + "\\" + kStems[(i / 7) % 12] + "-" + std::to_string(i % 389) + kExtensions[i % 7]);
    }

    std::vector<Entry> entries;
    unsigned n = 0;
    for (const std::string& name : names) {
        Entry e;
        e.key = utf8ToUtf16(name);
        const bool isFile = name.find('.') != std::string::npos && name.rfind('\\') < name.rfind('.');
        e.rec.action = kActions[(n * 5 + 3) % 7];
        e.rec.objectType = isFile ? 1 : 2;
        e.rec.inserted = 1251072000 + n * 97;  // from Mon Aug 24 2009 on
        e.rec.objectTime = e.rec.inserted - (n % 13) * 3600;
        e.rec.opaque[0] = static_cast<uint8_t>(n);
        entries.push_back(e);
        ++n;
    }
    sortEntries(entries);

    JournalInfo j;
    j.type = kJournalChange;
    j.activation = 1251072000;
    j.validation = 1251075600;
    j.state = kJournalStateValid;
    j.maxSize = 100ULL << 20;
    j.setServerNode("FILESRV01", "WORKSTATION-07");
    j.fileSystem = u"C:";

    TreeOptions o;
    o.seed = 20090824;
    o.height = 4;
    o.freeSlots = 14;
    o.slackEvery = 9;
    DbFile db = buildTree(entries, j, o);
    const Bytes img = db.image();

    const DbContents check = readDb(img);
    if (!check.ok || check.entries.size() != entries.size()) {
        std::fprintf(stderr, "make_sample: the built journal does not read back: %s\n", check.error.c_str());
        return 1;
    }
    if (!writeFile(path, img)) {
        std::fprintf(stderr, "make_sample: cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("Wrote %s: %zu entries, %d levels, %zu bytes.\n", path.c_str(), entries.size(), check.height,
                img.size());
    return 0;
}
