#include "jbbgen_names.h"

namespace jbbgen {

namespace {

template <size_t N>
const char16_t* pick(Prng& rng, const char16_t* const (&pool)[N]) {
    return pool[rng.below(N)];
}

// Mostly a name from `common`, sometimes one in another script or with
// accents from `intl`.
template <size_t N, size_t M>
const char16_t* pickMixed(Prng& rng, const char16_t* const (&common)[N], const char16_t* const (&intl)[M]) {
    return rng.percent(7) ? pick(rng, intl) : pick(rng, common);
}

const char16_t* const kUsers[] = {u"anna.berg", u"jmueller",      u"t.nguyen",     u"maria.lopez", u"k.tanaka",
                                  u"olivia",    u"Administrator", u"svc_backup",   u"peter.k",     u"s.oconnor",
                                  u"li.wei",    u"Ana Ruiz",      u"m.rossi",      u"Public",      u"dkowalski",
                                  u"emma.j",    u"rgupta",        u"Default User", u"hans",        u"c.dubois"};
const char16_t* const kIntlUsers[] = {u"José García", u"Zoë", u"Jürgen", u"Søren", u"Дмитрий", u"田中"};

const char16_t* const kUserAreas[] = {u"Documents",
                                      u"Documents",
                                      u"Documents",
                                      u"Desktop",
                                      u"Downloads",
                                      u"Pictures",
                                      u"Music",
                                      u"Videos",
                                      u"AppData\\Roaming\\Notes",
                                      u"AppData\\Local\\Temp",
                                      u"Favorites",
                                      u"Documents\\Eigene Dateien"};

const char16_t* const kProjects[] = {u"Apollo",     u"Zeus-Web", u"Kundenportal", u"Migration 2024", u"Проект Север",
                                     u"新製品開発", u"Intranet", u"Billing",      u"Data Lake",      u"Relaunch Café"};

const char16_t* const kProjectAreas[] = {u"src",    u"src\\main", u"docs",   u"tests", u"build\\Release",
                                         u"assets", u"scripts",   u"include"};

const char16_t* const kServers[] = {u"fileserver01", u"nas-berlin", u"FS-TOKYO", u"srv-hq", u"nas02"};
const char16_t* const kShares[] = {u"Public", u"Finance$", u"Engineering",     u"Marketing",
                                   u"HR",     u"Shared",   u"Home$\\e.schmidt"};

const char16_t* const kApps[] = {u"Program Files\\Office Suite",
                                 u"Program Files (x86)\\Photo Editor",
                                 u"ProgramData\\Sync Agent\\Logs",
                                 u"Program Files\\Mail Client\\plugins",
                                 u"Windows\\Temp",
                                 u"temp"};

const char16_t* const kMonths[] = {u"01 Januar",    u"02 Février", u"03 März",     u"04 April",
                                   u"05 Mayo",      u"06 Juni",    u"07 Июль",     u"08 August",
                                   u"09 Septembre", u"10 Oktober", u"11 Listopad", u"12 Dezember"};

const char16_t* const kEvents[] = {u"Urlaub Südtirol", u"Hochzeit Anna", u"Париж",  u"京都旅行",
                                   u"Geburtstag",      u"Sommerfest",    u"Lisboa", u"Weihnachten"};

const char16_t* const kFolders[] = {
    u"Reports",  u"Invoices", u"Drafts",    u"Old",    u"archive",   u"Meeting Notes", u"Design",
    u"Backups",  u"Clients",  u"Contracts", u"Budget", u"Planning",  u"Templates",     u"Scans",
    u"Letters",  u"Private",  u"Team",      u"Travel", u"Misc",      u"Customers",     u"Marketing",
    u"Projects", u"Handouts", u"Exports",   u"Q1",     u"Q4 review", u"Presentations", u"Training"};
const char16_t* const kIntlFolders[] = {
    u"Résumés",    u"Übersicht", u"Straße und Verkehr", u"Kundenverträge", u"Жильё", u"Отчёты",
    u"日本語資料", u"写真",      u"Ελληνικά",           u"très important", u"Café"};

// Folders with characters outside the basic plane (surrogate pairs).
const char16_t* const kAstralFolders[] = {u"\U0001F4C1 Sonstiges", u"\U0001D11E Noten", u"\U0001F3B5 Playlists"};

const char16_t* const kStems[] = {u"report",       u"budget",      u"invoice",          u"notes",
                                  u"presentation", u"letter",      u"contract",         u"summary",
                                  u"draft",        u"minutes",     u"Angebot",          u"plan",
                                  u"scan",         u"backup",      u"export",           u"IMG",
                                  u"DSC",          u"Screenshot",  u"Protokoll",        u"Kopie von Budget",
                                  u"Rechnung",     u"presupuesto", u"offerta",          u"data",
                                  u"agenda",       u"checklist",   u"Quarterly Report", u"timesheet"};
const char16_t* const kIntlStems[] = {u"Übersetzung", u"résumé",       u"facture reçue", u"Отчёт",
                                      u"報告書",      u"Präsentation", u"Straßenplan"};

const char16_t* const kExtensions[] = {u".docx", u".xlsx", u".pdf", u".txt",  u".pptx", u".jpg", u".png", u".zip",
                                       u".csv",  u".msg",  u".log", u".json", u".cpp",  u".h",   u".JPG", u".xml"};

constexpr int64_t kDay = 86400;

}  // namespace

bool HashSet::insert(uint64_t h) {
    if (h == 0) h = 1;
    if ((used_ + 1) * 2 > slots_.size()) {
        std::vector<uint64_t> old;
        old.swap(slots_);
        slots_.assign(old.size() * 2, 0);
        used_ = 0;
        for (uint64_t v : old)
            if (v != 0) insert(v);
    }
    const size_t mask = slots_.size() - 1;
    for (size_t i = static_cast<size_t>(h) & mask;; i = (i + 1) & mask) {
        if (slots_[i] == h) return false;
        if (slots_[i] == 0) {
            slots_[i] = h;
            ++used_;
            return true;
        }
    }
}

SyntheticEntries::SyntheticEntries(uint64_t seed, bool directoriesOnly, int64_t baseTime, const EntryShape& shape)
    : rng_(seed), directoriesOnly_(directoriesOnly), baseTime_(baseTime), shape_(shape) {}

void SyntheticEntries::appendNumber(std::u16string* s, uint64_t n, int width) {
    char16_t digits[24];
    int k = 0;
    do {
        digits[k++] = static_cast<char16_t>(u'0' + n % 10);
        n /= 10;
    } while (n != 0);
    while (k < width) digits[k++] = u'0';
    while (k > 0) s->push_back(digits[--k]);
}

void SyntheticEntries::appendRoot(std::u16string* s) {
    const uint64_t kind = rng_.below(100);
    if (kind < 42) {
        *s += u"C:\\Users\\";
        *s += pickMixed(rng_, kUsers, kIntlUsers);
        *s += u'\\';
        *s += pick(rng_, kUserAreas);
    } else if (kind < 57) {
        *s += rng_.percent(50) ? u"D:\\Projects\\" : u"E:\\Dev\\";
        *s += pick(rng_, kProjects);
        *s += u'\\';
        *s += pick(rng_, kProjectAreas);
    } else if (kind < 72) {
        *s += u"\\\\";
        *s += pick(rng_, kServers);
        *s += u'\\';
        *s += pick(rng_, kShares);
    } else if (kind < 80) {
        *s += u"C:\\";
        *s += pick(rng_, kApps);
    } else if (kind < 92) {
        *s += u"E:\\Archiv\\";
        appendNumber(s, 2015 + rng_.below(10));
        *s += u'\\';
        *s += pick(rng_, kMonths);
    } else {
        *s += u"F:\\Fotos\\";
        appendNumber(s, 2012 + rng_.below(13));
        *s += u'\\';
        *s += pick(rng_, kEvents);
    }
}

void SyntheticEntries::appendFolder(std::u16string* s) {
    *s += u'\\';
    const uint64_t kind = rng_.below(100);
    if (kind < 1) {
        *s += pick(rng_, kAstralFolders);
    } else if (kind < 12) {
        *s += rng_.percent(50) ? u"Project " : u"Kunde ";
        appendNumber(s, 1 + rng_.below(60));
    } else if (kind < 18) {
        appendNumber(s, 2010 + rng_.below(15));
    } else {
        *s += pickMixed(rng_, kFolders, kIntlFolders);
    }
}

void SyntheticEntries::appendFileName(std::u16string* s) {
    *s += u'\\';
    *s += pickMixed(rng_, kStems, kIntlStems);
    switch (rng_.below(6)) {
        case 0:
            *s += u'-';
            appendNumber(s, rng_.below(10000));
            break;
        case 1:  // a date
            *s += u' ';
            appendNumber(s, 2015 + rng_.below(10));
            *s += u'-';
            appendNumber(s, 1 + rng_.below(12), 2);
            *s += u'-';
            appendNumber(s, 1 + rng_.below(28), 2);
            break;
        case 2:
            *s += u'_';
            appendNumber(s, rng_.below(100000), 5);
            break;
        case 3:
            *s += u" (";
            appendNumber(s, 1 + rng_.below(9));
            *s += u')';
            break;
        case 4:  // a version
            *s += u" v";
            appendNumber(s, 1 + rng_.below(5));
            *s += u'.';
            appendNumber(s, rng_.below(10));
            break;
        default:
            break;
    }
    *s += pick(rng_, kExtensions);
}

void SyntheticEntries::makeName(std::u16string* key, bool directory) {
    key->clear();
    appendRoot(key);
    const uint64_t d = rng_.below(100);
    int folders = d < 18 ? 0 : d < 53 ? 1 : d < 83 ? 2 : 3;
    if (directory && folders == 0) folders = 1;
    for (int i = 0; i < folders; ++i) appendFolder(key);
    if (!directory) appendFileName(key);
}

namespace {

uint64_t hashUnits(const std::u16string& s) {
    // FNV-1a over the code units, then mixed so that the low bits (the
    // slot of a HashSet) depend on every unit.
    uint64_t h = 0xCBF29CE484222325ull;
    for (char16_t c : s) h = (h ^ c) * 0x100000001B3ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return h;
}

}  // namespace

void SyntheticEntries::nextDirectory() {
    // A directory not used before: a few draws, then one more folder with
    // a number no other directory has.
    for (int attempt = 0;; ++attempt) {
        directory_.clear();
        appendRoot(&directory_);
        const uint64_t d = rng_.below(100);
        const int folders = d < 40 ? 1 : d < 75 ? 2 : 3;
        for (int i = 0; i < folders; ++i) appendFolder(&directory_);
        if (attempt >= 20) {
            directory_ += u"\\Teil ";
            appendNumber(&directory_, directoriesMade_);
        }
        if (directoriesSeen_.insert(hashUnits(directory_))) break;
    }
    ++directoriesMade_;
    const double whole = static_cast<double>(static_cast<uint64_t>(shape_.perDirectory));
    const double part = shape_.perDirectory - whole;
    directoryLeft_ = static_cast<uint64_t>(whole) + (rng_.below(1000000) < static_cast<uint64_t>(part * 1e6) ? 1 : 0);
}

void SyntheticEntries::makeNameInDirectory(std::u16string* key, bool directory) {
    *key = directory_;
    if (directory)
        appendFolder(key);
    else
        appendFileName(key);
}

bool SyntheticEntries::next(std::u16string* key, journalRec* rec) {
    const bool directory = directoriesOnly_ || rng_.percent(8);
    const bool grouped = shape_.perDirectory >= 1;
    if (grouped && directoryLeft_ == 0) nextDirectory();
    for (int attempt = 0;; ++attempt) {
        if (attempt == 10000) return false;
        if (grouped)
            makeNameInDirectory(key, directory);
        else
            makeName(key, directory);
        if (seen_.insert(hashUnits(*key))) break;
    }
    if (grouped) --directoryLeft_;

    *rec = journalRec{};
    // Modify 40%, Create 22%, Delete 12%, Change Attribute 10%, Rename Old
    // and Rename New 6% each, Delete Restore 4%.
    const uint64_t a = rng_.below(100);
    rec->action = a < 40 ? 6 : a < 62 ? 4 : a < 74 ? 3 : a < 84 ? 5 : a < 90 ? 1 : a < 96 ? 2 : 11;
    rec->objectType = directory ? 2 : 1;
    rec->insertedTime =
        baseTime_ + (shape_.insertedSpan > 0 ? static_cast<int64_t>(rng_.below(shape_.insertedSpan)) : 0);
    if (shape_.objectSpan >= 0) {
        rec->objectTime = rec->insertedTime - static_cast<int64_t>(rng_.below(shape_.objectSpan + 1));
    } else if (rec->action == 3 || rec->action == 11) {
        // A deleted object carries its last time stamp, often long ago.
        rec->objectTime = rec->insertedTime - static_cast<int64_t>(rng_.below(3 * 365 * kDay));
    } else {
        // A change is journaled moments after the object's time stamp.
        rec->objectTime = rec->insertedTime - static_cast<int64_t>(rng_.below(300));
    }
    if (shape_.fillOpaque) {
        uint64_t v = rng_.next();
        if (v == 0) v = 1;
        for (int i = 0; i < 8; ++i) rec->opaque[i] = static_cast<uint8_t>(v >> (8 * i));
    }
    return true;
}

}  // namespace jbbgen
