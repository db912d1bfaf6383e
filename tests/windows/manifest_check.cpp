// manifest_check [--none] PROGRAM.exe
//
// Reads the resource section of a Windows x86-64 executable and finds the
// application manifest the loader uses: resource 1 of type RT_MANIFEST (24).
// Without --none it requires that manifest and that it asks for the highest
// privileges available to the user (requestedExecutionLevel
// level="highestAvailable" uiAccess="false" inside trustInfo, security,
// requestedPrivileges) and prints it.  With --none it requires a well-formed
// executable that has no such resource.  Exit status 0 when the requirement
// holds, 1 when it does not, 2 for a bad command line.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kRtManifest = 24;
constexpr uint32_t kManifestId = 1;  // CREATEPROCESS_MANIFEST_RESOURCE_ID

struct Failure {
    std::string what;
};

uint32_t get(const Bytes& b, size_t at, size_t size) {
    if (at > b.size() || b.size() - at < size) throw Failure{"the file ends inside a header"};
    uint32_t v = 0;
    for (size_t i = size; i-- > 0;) v = (v << 8) | b[at + i];
    return v;
}

struct Section {
    uint32_t rva, virtualSize, fileOffset, rawSize;
};

// The executable's resource section: its file offset, and the RVA and file
// offset of every section for following the data entries' RVAs.
struct Image {
    Bytes file;
    std::vector<Section> sections;
    uint32_t resourceRva = 0;
    uint32_t resourceSize = 0;

    size_t offsetOf(uint32_t rva, uint32_t size) const {
        for (const Section& s : sections) {
            const uint32_t extent = s.virtualSize > s.rawSize ? s.rawSize : s.virtualSize;
            if (rva >= s.rva && rva - s.rva <= extent && extent - (rva - s.rva) >= size)
                return s.fileOffset + (rva - s.rva);
        }
        throw Failure{"an address outside every section"};
    }
};

Image readImage(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure{"cannot open " + path};
    Image img;
    img.file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const Bytes& f = img.file;
    if (get(f, 0, 2) != 0x5A4D) throw Failure{"no MZ header"};
    const size_t pe = get(f, 0x3C, 4);
    if (get(f, pe, 4) != 0x00004550) throw Failure{"no PE signature"};
    const size_t sectionCount = get(f, pe + 6, 2);
    const size_t optionalSize = get(f, pe + 20, 2);
    const size_t optional = pe + 24;
    if (get(f, optional, 2) != 0x20B) throw Failure{"not a PE32+ (x86-64) image"};
    const uint32_t directories = get(f, optional + 108, 4);
    if (directories > 2) {  // entry 2: the resource directory
        img.resourceRva = get(f, optional + 112 + 2 * 8, 4);
        img.resourceSize = get(f, optional + 112 + 2 * 8 + 4, 4);
    }
    for (size_t i = 0; i < sectionCount; ++i) {
        const size_t s = optional + optionalSize + 40 * i;
        img.sections.push_back({get(f, s + 12, 4), get(f, s + 8, 4), get(f, s + 20, 4), get(f, s + 16, 4)});
    }
    return img;
}

// The offset (from the start of the resource section) that the entry with
// id `id` of the directory at `dir` points to, with its subdirectory flag;
// false when the directory has no such entry.
bool findEntry(const Image& img, size_t base, uint32_t dir, uint32_t id, uint32_t* target) {
    const size_t named = get(img.file, base + dir + 12, 2);
    const size_t ids = get(img.file, base + dir + 14, 2);
    for (size_t i = named; i < named + ids; ++i) {
        const size_t e = base + dir + 16 + 8 * i;
        if (get(img.file, e, 4) == id) {
            *target = get(img.file, e + 4, 4);
            return true;
        }
    }
    return false;
}

// The bytes of resource kManifestId of type kRtManifest (its first
// language); false when there is none.
bool manifestOf(const Image& img, std::string* text) {
    if (img.resourceRva == 0 || img.resourceSize == 0) return false;
    const size_t base = img.offsetOf(img.resourceRva, img.resourceSize);
    uint32_t byType = 0, byId = 0;
    if (!findEntry(img, base, 0, kRtManifest, &byType)) return false;
    if ((byType & 0x80000000u) == 0) throw Failure{"the manifest type entry is not a directory"};
    if (!findEntry(img, base, byType & 0x7FFFFFFFu, kManifestId, &byId)) return false;
    if ((byId & 0x80000000u) == 0) throw Failure{"the manifest id entry is not a directory"};
    const size_t languages = base + (byId & 0x7FFFFFFFu);
    if (get(img.file, languages + 12, 2) + get(img.file, languages + 14, 2) == 0)
        throw Failure{"the manifest has no language entry"};
    const uint32_t dataEntry = get(img.file, languages + 16 + 4, 4);
    if (dataEntry & 0x80000000u) throw Failure{"the manifest language entry is a directory"};
    const uint32_t rva = get(img.file, base + dataEntry, 4);
    const uint32_t size = get(img.file, base + dataEntry + 4, 4);
    const size_t at = img.offsetOf(rva, size);
    text->assign(img.file.begin() + static_cast<std::ptrdiff_t>(at),
                 img.file.begin() + static_cast<std::ptrdiff_t>(at + size));
    return true;
}

// What is wrong with the manifest's request for privileges; empty when it
// asks for the highest available ones without UI access.
std::string checkRequest(const std::string& m) {
    if (m.compare(0, 5, "<?xml") != 0 && m.compare(0, 8, "\xEF\xBB\xBF<?xml") != 0)
        return "the manifest does not begin with an XML declaration";
    size_t at = 0;
    for (const char* tag :
         {"<assembly", "<trustInfo", "<security", "<requestedPrivileges", "<requestedExecutionLevel"}) {
        const size_t next = m.find(tag, at);
        if (next == std::string::npos) return std::string("no ") + tag + " element where expected";
        at = next;
    }
    const std::string element = m.substr(at, m.find('>', at) - at);
    if (element.find(" level=\"highestAvailable\"") == std::string::npos)
        return "the execution level is not highestAvailable: " + element;
    if (element.find(" uiAccess=\"false\"") == std::string::npos) return "uiAccess is not false: " + element;
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    const bool none = argc == 3 && std::string(argv[1]) == "--none";
    if (argc != 2 && !none) {
        std::fprintf(stderr, "usage: manifest_check [--none] PROGRAM.exe\n");
        return 2;
    }
    const std::string path = argv[argc - 1];
    try {
        const Image img = readImage(path);
        std::string manifest;
        const bool found = manifestOf(img, &manifest);
        if (none) {
            if (!found) return 0;
            std::printf("%s: unexpected application manifest:\n%s\n", path.c_str(), manifest.c_str());
            return 1;
        }
        if (!found) {
            std::printf("%s: no application manifest (resource 1 of type RT_MANIFEST)\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", manifest.c_str());
        const std::string problem = checkRequest(manifest);
        if (!problem.empty()) {
            std::printf("%s: %s\n", path.c_str(), problem.c_str());
            return 1;
        }
        return 0;
    } catch (const Failure& f) {
        std::printf("%s: %s\n", path.c_str(), f.what.c_str());
        return 1;
    }
}
