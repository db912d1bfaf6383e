// The slot map of jbbtool's tree walks, made in two halves at once, must
// be the map a single pass makes, whatever damage lies near the middle.
#include <gtest/gtest.h>

#include "secondthread.h"
#include "slotmap.h"
#include "dbwriter.h"
#include "viewrun.h"

namespace {

using namespace testdb;

// Every subscript's slot as find() gives it.
std::string describe(const jbbtool::SlotMap& map, uint32_t upTo) {
    std::string s;
    for (uint32_t sub = 0; sub <= upTo; ++sub)
        if (const jbbtool::SlotMap::Entry* e = map.find(sub))
            s += std::to_string(sub) + "@" + std::to_string(e->offset) + ":" + std::to_string(e->nodeSize) +
                 (e->used ? "u " : "f ");
    return s;
}

TEST(SlotMapHalves, GiveTheMapOfOnePassWhateverLiesAtTheMiddle) {
    TreeOptions o;
    o.height = 3;
    o.seed = 5;
    o.freeSlots = 3;
    std::vector<Entry> entries;
    for (int i = 0; i < 600; ++i) {
        Entry e;
        e.key = u"C:\\data\\file " + std::u16string(1, char16_t(u'a' + i % 26)) + std::u16string(i / 26 + 1, u'x');
        entries.push_back(e);
    }
    sortEntries(entries);
    const DbFile sound = buildTree(entries, JournalInfo(), o, nullptr);
    const size_t mid = sound.slots.size() / 2;
    struct Case {
        const char* what;
        std::function<void(DbFile&)> damage;
    };
    const std::vector<Case> cases = {
        {"sound", [](DbFile&) {}},
        {"bad magic at the middle", [&](DbFile& d) { d.slots[mid].node.magic = 0x1234; }},
        {"bad magic after the middle", [&](DbFile& d) { d.slots[mid + 1].node.magic = 0x1234; }},
        {"a gap at the middle",
         [&](DbFile& d) { d.slots.insert(d.slots.begin() + mid, Slot::rawBytes(Bytes(300, 0x55))); }},
        {"an info block copied into a node just after the middle of the file",
         [&](DbFile& d) {
             const Bytes img = d.image();
             const size_t fileMid = 2088 + (img.size() - 2088) / 2;
             size_t i = 0;
             while (i + 1 < d.slots.size() && d.slotOffset(i + 1) <= fileMid) ++i;
             const size_t at = std::max<size_t>(fileMid, (size_t)d.slotOffset(i) + 80);
             const size_t real = (size_t)d.slotOffset(d.slots.size() - 1);
             ASSERT_LT(at + 24, (size_t)d.slotOffset(i + 1));
             d.patch(at, Bytes(img.begin() + (long)real, img.begin() + (long)real + 24));
         }},
        {"a slot reaching too far",
         [&](DbFile& d) { d.slots[mid].node.slotLength = d.slots[mid].node.imageSize() + 40; }},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DbFile d = sound;
        c.damage(d);
        const std::string path = dir.file("m.jbbdb");
        ASSERT_TRUE(writeFile(path, d.image()));
        jbbtool::DbImage db;
        std::string err;
        ASSERT_TRUE(db.open(path, &err)) << err;
        jbbtool::SlotMap one, halves, halvesInline;
        ASSERT_TRUE(jbbtool::buildSlotMap(db, &one, nullptr, INT64_MAX));
        ASSERT_TRUE(jbbtool::buildSlotMap(db, &halves, nullptr, 0));
        // Where the system refuses a second thread, the halves are mapped
        // one after the other.
        jbbtool::SecondThread::refuseThreadsForTesting(true);
        const bool mapped = jbbtool::buildSlotMap(db, &halvesInline, nullptr, 0);
        jbbtool::SecondThread::refuseThreadsForTesting(false);
        ASSERT_TRUE(mapped);
        EXPECT_EQ(describe(halves, 4000), describe(one, 4000));
        EXPECT_EQ(describe(halvesInline, 4000), describe(one, 4000));
        EXPECT_FALSE(describe(one, 4000).empty());
    }
}

}  // namespace
