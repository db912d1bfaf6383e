// The checks a file must pass before the engine trusts it: the control
// record, the node info block of every slot, and every node image.  Each
// table drives one kind of damage that `jbbtool check` names, with every
// bound exactly at its limit (accepted) and one past it (refused), through
// the engine's open and walk on files made by the test writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

#include "dbwriter.h"
#include "format.h"
#include "jbbtreev.h"
#include "platform.h"

using namespace testdb;
namespace fs = std::filesystem;
using F = btformat::Fault;

namespace {

std::string tempPath(const std::string& name) {
    fs::path dir = fs::temp_directory_path() / ("jbb_format_" + std::to_string(plat::processId()));
    fs::create_directories(dir);
    return (dir / (name + ".jbbdb")).string();
}

class Counter : public bTree {
public:
    Counter() : bTree(32, 0) { setOpenExistingOnly(true); }
    int visitEntry(const char16_t*, const uint8_t*) override {
        ++entries;
        return 0;
    }
    size_t entries = 0;
};

// Opens the file, walks it when open succeeds, and closes it unchanged.
// The open's result, except for a root the open could not load (942): the
// reason it gives then (228 for a root refused by its checks).  `walked`
// gets the entries a walk met (or -1).
int openAndWalk(const Bytes& image, const std::string& name, long* walked) {
    std::string path = tempPath(name);
    EXPECT_TRUE(writeFile(path, image));
    Counter t;
    int rc = t.openBtDb(path.c_str(), 0);
    *walked = -1;
    if (rc == 0) {
        if (t.WalkTree() == 0) *walked = (long)t.entries;
        t.closeBtDb(nullptr, 1);
    }
    if (rc == btErrOpen) rc = t.dbGetLastError();
    fs::remove(path);
    return rc;
}

std::vector<Entry> entries(size_t n) {
    std::vector<Entry> v;
    for (size_t i = 0; i < n; ++i) {
        Entry e;
        e.key = u"C:\\f\\" + utf8ToUtf16(std::to_string(1000 + i));
        e.rec.inserted = 1600000000 + (int64_t)i;
        v.push_back(e);
    }
    sortEntries(v);
    return v;
}

// A datum of exactly `total` bytes: key, its 0 unit, room, a 32-byte record.
Datum datumOf(const std::u16string& key, size_t total) {
    Datum d;
    d.key = key;
    d.data = Bytes(32, 0x5A);
    d.gap = Bytes(total - (4 + 2 * (key.size() + 1) + 32), 0x11);
    return d;
}

// A file whose only node is the root leaf `n` (subscript 1); a node size
// beyond the datums gets as many bytes behind them.
Bytes singleNodeFile(Node n) {
    DbFile db;
    n.subscript = 1;
    uint64_t slack = n.nodeSize && *n.nodeSize > n.imageSize() ? *n.nodeSize - n.imageSize() : 0;
    db.slots.push_back(Slot::used(n, slack));
    db.ctrl.rootOffset = 1;
    db.updateCounters();
    return db.image();
}

Node leafOf(size_t count) {
    Node n;
    for (size_t i = 0; i < count; ++i) {
        Datum d;
        d.key = u"k" + utf8ToUtf16(std::to_string(10 + i));
        d.data = Bytes(32, (uint8_t)i);
        n.datums.push_back(d);
    }
    return n;
}

// The first fault the info decoder finds in the slots of a file image, as
// open walks them, against the record's currentIXCount.
F firstInfoFault(const Bytes& image) {
    const uint32_t limit = getU32(image.data() + 16);
    int64_t at = kCtrlRecSize;
    while (at < (int64_t)image.size()) {
        nodeInfo in;
        F f = btformat::decodeNodeInfo(image.data() + at, image.size() - (size_t)at, at, (int64_t)image.size(), limit,
                                       &in);
        if (f != F::none || in.slotLength > image.size()) return f;
        at += (int64_t)in.slotLength;
    }
    return F::none;
}

}  // namespace

// A node image as fetchPage reads it: header, datum count, every datum's
// length, data position, record room and key terminator.
TEST(FormatChecks, NodeImagesAtEveryBound) {
    struct Case {
        const char* name;
        Node (*make)();
        bool sound;
        F fault;  // what the node decoder says
    };
    const Case cases[] = {
        {"empty-root", [] { return Node{}; }, true, F::none},
        {"ten-datums", [] { return leafOf(10); }, true, F::none},
        {"count-eleven",
         [] {
             Node n = leafOf(10);
             n.count = 11;
             return n;
         },
         false, F::nodeCount},
        {"count-one-past-datums",
         [] {
             Node n = leafOf(4);
             n.count = 5;
             return n;
         },
         false, F::datumHeader},
        // The node ends 3 bytes after the last datum: no room for a header.
        {"datum-header-past-end",
         [] {
             Node n = leafOf(3);
             n.count = 4;
             n.nodeSize = (uint32_t)n.imageSize() + 3;
             n.slotLength = *n.nodeSize;
             return n;
         },
         false, F::datumHeader},
        {"nkl-ends-at-node-end",
         [] {
             Node n = leafOf(3);
             n.datums.back().gap = Bytes(7, 0);
             return n;
         },
         true, F::none},
        {"nkl-one-past-node-end",
         [] {
             Node n = leafOf(3);
             n.datums.back().nkl = (uint16_t)(n.datums.back().size() + 1);
             return n;
         },
         false, F::datumLength},
        {"nkl-zero",
         [] {
             Node n = leafOf(3);
             n.datums[1].nkl = 0;
             return n;
         },
         false, F::datumRecord},
        // Room after the record (nkl longer than key and record) and between
        // the key's terminator and the record are read through the fields.
        {"room-after-record",
         [] {
             Node n = leafOf(3);
             Datum& d = n.datums[1];
             d.data.resize(40, 0);
             return n;
         },
         true, F::none},
        {"room-before-record",
         [] {
             Node n = leafOf(3);
             n.datums[1].gap = Bytes(9, 0xEE);
             return n;
         },
         true, F::none},
        {"record-ends-at-nkl",
         [] {
             Node n = leafOf(3);
             Datum& d = n.datums[1];
             d.dataOffset = (uint16_t)(d.size() - 32 - 2);
             return n;
         },
         true, F::none},
        {"record-one-past-nkl",
         [] {
             Node n = leafOf(3);
             Datum& d = n.datums[1];
             d.dataOffset = (uint16_t)(d.size() - 32 - 2 + 1);
             return n;
         },
         false, F::datumRecord},
        {"record-short-by-one",
         [] {
             Node n = leafOf(3);
             n.datums[1].data.resize(31);
             return n;
         },
         false, F::datumRecord},
        {"data-offset-four-empty-key",
         [] {
             Node n;
             Datum d;
             d.data = Bytes(32, 1);
             n.datums.push_back(d);
             return n;
         },
         true, F::none},
        {"data-offset-three",
         [] {
             Node n;
             Datum d;
             d.data = Bytes(33, 1);
             d.dataOffset = 3;
             n.datums.push_back(d);
             return n;
         },
         false, F::datumDataOffset},
        {"terminator-last-unit-before-data", [] { return leafOf(2); }, true, F::none},
        {"terminator-before-odd-room",
         [] {
             Node n = leafOf(2);
             n.datums[0].gap = Bytes(1, 0x7F);
             return n;
         },
         true, F::none},
        {"no-terminator",
         [] {
             Node n = leafOf(3);
             n.datums[2].terminateKey = false;
             n.datums[2].gap = Bytes(2, 0x41);
             return n;
         },
         false, F::datumKey},
        {"no-terminator-odd-room",
         [] {
             Node n = leafOf(3);
             n.datums[2].terminateKey = false;
             n.datums[2].gap = Bytes(1, 0x41);
             return n;
         },
         false, F::datumKey},
        // Bytes after the last datum mean nothing to the engine.
        {"bytes-after-datums",
         [] {
             Node n = leafOf(3);
             n.nodeSize = (uint32_t)n.imageSize() + 5;
             n.slotLength = *n.nodeSize;
             return n;
         },
         true, F::nodeTrailing},
        {"size-at-maximum",
         [] {
             Node n;
             for (int i = 0; i < 10; ++i) n.datums.push_back(datumOf(u"m" + utf8ToUtf16(std::to_string(i)), 65535));
             return n;
         },
         true, F::none},
        {"size-one-past-maximum",
         [] {
             Node n;
             for (int i = 0; i < 10; ++i) n.datums.push_back(datumOf(u"m" + utf8ToUtf16(std::to_string(i)), 65535));
             n.nodeSize = 72 + 10 * 65535 + 1;
             n.slotLength = *n.nodeSize;
             return n;
         },
         false, F::nodeSize},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Node n = c.make();
        Bytes image = singleNodeFile(n);
        long walked = 0;
        int rc = openAndWalk(image, c.name, &walked);
        if (c.sound) {
            EXPECT_EQ(0, rc);
            EXPECT_EQ((long)n.datums.size(), walked);
        } else {
            EXPECT_EQ(btErrCorrupt, rc);
        }
        // The decoder, on exactly the node's bytes, says why.
        const uint8_t* node = image.data() + kCtrlRecSize;
        const size_t size = getU32(node + 4);
        std::vector<btformat::DatumFacts> facts;
        btformat::NodeCheck got =
            btformat::decodeNode(node, size, 32, [&](const btformat::DatumFacts& d) { facts.push_back(d); });
        EXPECT_EQ(c.fault, got.fault) << btformat::faultText(got.fault);
        EXPECT_EQ(c.sound, btformat::tolerated(got.fault));
        btformat::NodeCheck quick = btformat::decodeNode(
            node, size, 32, [](const btformat::DatumFacts&) {}, btformat::KeyEnds());
        EXPECT_EQ(got.fault, quick.fault);
        if (c.sound) {
            ASSERT_EQ(n.datums.size(), facts.size());
            uint32_t off = 72;
            for (size_t i = 0; i < facts.size(); ++i) {
                const Datum& d = n.datums[i];
                EXPECT_EQ(off, facts[i].offset);
                EXPECT_EQ(d.size(), facts[i].length);
                EXPECT_EQ(d.key.size(), facts[i].keyUnits);
                EXPECT_EQ(off + 4 + 2 * (d.key.size() + 1) + d.gap.size(), facts[i].dataPos);
                off += (uint32_t)d.size();
            }
        }
    }
}

// The node info block of each slot as open takes inventory: magic,
// subscript against the index array, slot length, node size against the
// slot and the file.
TEST(FormatChecks, NodeInfoBlocksAtEveryBound) {
    struct Case {
        const char* name;
        void (*damage)(DbFile&, size_t leaf);
        int rc;
        F fault;  // the first the info decoder finds over the slots
    };
    const Case cases[] = {
        {"sound", [](DbFile&, size_t) {}, 0, F::none},
        {"bad-magic", [](DbFile& db, size_t l) { db.slots[l].node.magic = 0xABCE; }, btErrCorrupt, F::infoMagic},
        {"bad-magic-big-endian", [](DbFile& db, size_t l) { db.slots[l].node.magic = 0xCDAB; }, btErrCorrupt,
         F::infoMagic},
        // The index array is full: the free slot names its last entry,
        // currentIXCount - 1, and one past it.
        {"subscript-last-in-use",
         [](DbFile& db, size_t) {
             ASSERT_EQ(db.ctrl.currentIXCount - 1, db.slots.back().slotSubscript());
             db.ctrl.indexArraySize = db.ctrl.currentIXCount;
         },
         0, F::none},
        {"subscript-current-ix-count",
         [](DbFile& db, size_t) {
             db.slots.back().subscript = db.ctrl.currentIXCount;
             db.ctrl.indexArraySize = db.ctrl.currentIXCount;
         },
         btErrCorrupt, F::infoSubscript},
        {"subscript-zero", [](DbFile& db, size_t) { db.slots.back().subscript = 0; }, btErrCorrupt, F::infoSubscript},
        {"duplicate-subscript", [](DbFile& db, size_t l) { db.slots.back().subscript = db.slots[l].node.subscript; },
         btErrCorrupt, F::none},
        {"free-slot-of-24", [](DbFile& db, size_t) { db.slots.back().length = 24; }, 0, F::none},
        {"slot-length-23",
         [](DbFile& db, size_t) {
             Slot& last = db.slots.back();
             Bytes b(24, 0);
             putU32(b, 0, kMagic);
             putU32(b, 4, 23);
             putU64(b, 8, 23);
             putU32(b, 16, kSlotFree);
             putU32(b, 20, last.subscript);
             last = Slot::rawBytes(b);
         },
         btErrCorrupt, F::infoSlotLength},
        // A fresh free slot gives its length as node size, whatever it is.
        {"fresh-free-slot-of-40", [](DbFile& db, size_t) { db.slots.back().length = 40; }, 0, F::none},
        // A free slot's node size fits neither a fresh block nor a freed node.
        {"free-slot-header",
         [](DbFile& db, size_t) {
             Slot& last = db.slots.back();
             Bytes b(100, 0);
             putU32(b, 0, kMagic);
             putU32(b, 4, 50);
             putU64(b, 8, 100);
             putU32(b, 16, kSlotFree);
             putU32(b, 20, last.subscript);
             last = Slot::rawBytes(b);
         },
         0, F::infoFreeHeader},
        {"node-size-below-slot-length", [](DbFile& db, size_t l) { db.slots[l] = Slot::used(db.slots[l].node, 8); }, 0,
         F::none},
        {"node-size-one-past-slot",
         [](DbFile& db, size_t l) { db.slots[l].node.slotLength = db.slots[l].node.imageSize() - 1; }, btErrCorrupt,
         F::infoNodeOverSlot},
        {"node-size-71", [](DbFile& db, size_t l) { db.slots[l].node.nodeSize = 71; }, btErrCorrupt, F::infoNodeSize},
        // Any state but 1 holds a node.
        {"slot-state-two", [](DbFile& db, size_t l) { db.slots[l].node.state = 2; }, 0, F::infoState},
    };
    const std::vector<Entry> es = entries(60);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TreeOptions opts;
        opts.shuffleSlots = false;
        opts.height = 2;
        TreeInfo info;
        DbFile db = buildTree(es, JournalInfo{}, opts, &info);
        size_t leaf = 0;
        while (db.slots[leaf].node.subscript != info.levels[1][1]) ++leaf;
        // A free slot at the end that the cases may change.
        db.slots.push_back(Slot::freshFree(db.ctrl.currentIXCount, 100));
        db.updateCounters();
        c.damage(db, leaf);
        long walked = 0;
        const Bytes image = db.image();
        int rc = openAndWalk(image, c.name, &walked);
        EXPECT_EQ(c.rc, rc);
        F f = firstInfoFault(image);
        EXPECT_EQ(c.fault, f) << btformat::faultText(f);
        if (rc == 0 && c.rc == 0) {
            EXPECT_EQ((long)es.size(), walked);
        }
    }
}

// The last slot's lengths against the end of the file.
TEST(FormatChecks, LastSlotAgainstTheEndOfTheFile) {
    struct Case {
        const char* name;
        int64_t slotExtra;  // slotLength beyond the bytes the file holds
        int64_t nodeExtra;  // nodeSize beyond them
        int rc;
        F fault;
    };
    const Case cases[] = {
        {"exact", 0, 0, 0, F::none},
        {"slot-one-past-end", 1, 0, 0, F::infoSlotPastEnd},
        // slotLength = INT64_MAX - offset: accepted; reading on from there
        // fails or finds nothing, as the system has it (-1: not corrupt).
        {"slot-to-the-largest-offset", -2, 0, -1, F::infoSlotPastEnd},
        {"slot-past-the-largest-offset", -3, 0, btErrCorrupt, F::infoSlotLength},
        {"node-one-past-end", 1, 1, btErrCorrupt, F::infoNodePastEnd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Node n = leafOf(3);
        n.subscript = 1;
        DbFile db;
        db.slots.push_back(Slot::used(n));
        db.ctrl.rootOffset = 1;
        db.updateCounters();
        Bytes image = db.image();
        const uint64_t at = kCtrlRecSize;
        const uint64_t len = image.size() - at;
        uint64_t slotLen = c.slotExtra == -2   ? (uint64_t)INT64_MAX - at
                           : c.slotExtra == -3 ? (uint64_t)INT64_MAX - at + 1
                                               : len + (uint64_t)c.slotExtra;
        putU64(image, at + 8, slotLen);
        putU32(image, at + 4, (uint32_t)(len + (uint64_t)c.nodeExtra));
        nodeInfo in;
        F f =
            btformat::decodeNodeInfo(image.data() + at, image.size() - at, (int64_t)at, (int64_t)image.size(), 2, &in);
        EXPECT_EQ(c.fault, f) << btformat::faultText(f);
        long walked = 0;
        int rc = openAndWalk(image, c.name, &walked);
        if (c.rc < 0) {
            EXPECT_NE(btErrCorrupt, rc);
        } else {
            EXPECT_EQ(c.rc, rc);
        }
        if (c.rc == 0) {
            EXPECT_EQ(3, walked);
        }
    }
}

// The control record: magic, version, data length, state, and the counters
// against the file's size.
TEST(FormatChecks, ControlRecordsAtEveryBound) {
    struct Case {
        const char* name;
        void (*damage)(DbFile&, Bytes&);
        int rc;
        F fault;  // the first fault of the record
    };
    const Case cases[] = {
        {"sound", [](DbFile&, Bytes&) {}, 0, F::none},
        {"magic-big-endian", [](DbFile& db, Bytes&) { db.ctrl.magic = 0xCDAB; }, btErrBadCtrlRec, F::ctrlMagic},
        {"version-2.1", [](DbFile& db, Bytes&) { db.ctrl.versMin = 1; }, btErrFormatChanged, F::ctrlVersion},
        {"version-2.3", [](DbFile& db, Bytes&) { db.ctrl.versMin = 3; }, btErrFormatChanged, F::ctrlVersion},
        {"version-3.2", [](DbFile& db, Bytes&) { db.ctrl.versMaj = 3; }, btErrFormatChanged, F::ctrlVersion},
        {"data-length-33", [](DbFile& db, Bytes&) { db.ctrl.dataLen = 33; }, btErrFormatChanged, F::ctrlDataLength},
        {"data-length-31", [](DbFile& db, Bytes&) { db.ctrl.dataLen = 31; }, btErrFormatChanged, F::ctrlDataLength},
        {"short-by-one", [](DbFile&, Bytes& b) { b.resize(kCtrlRecSize - 1); }, btErrFormatChanged, F::ctrlShort},
        {"record-alone", [](DbFile&, Bytes& b) { b.resize(kCtrlRecSize); }, 0, F::none},
        {"state-opened", [](DbFile& db, Bytes&) { db.ctrl.state = kDbOpened; }, btErrNotClosed, F::none},
        {"state-corrupt", [](DbFile& db, Bytes&) { db.ctrl.state = kDbCorrupt; }, btErrCorrupt, F::ctrlStateCorrupt},
        {"state-unknown", [](DbFile& db, Bytes&) { db.ctrl.state = 3; }, 0, F::ctrlStateUnknown},
        {"ix-count-fills-array", [](DbFile& db, Bytes&) { db.ctrl.indexArraySize = db.ctrl.currentIXCount; }, 0,
         F::ctrlIndexArrayStep},
        {"ix-count-one-past-array", [](DbFile& db, Bytes&) { db.ctrl.indexArraySize = db.ctrl.currentIXCount - 1; },
         btErrCorrupt, F::ctrlCounters},
        {"empty-counters-with-slots",
         [](DbFile& db, Bytes&) {
             db.ctrl.indexArraySize = 0;
             db.ctrl.currentIXCount = 0;
         },
         btErrCorrupt, F::ctrlEmptyWithSlots},
        {"empty-counters-no-slots",
         [](DbFile& db, Bytes& b) {
             db.ctrl.indexArraySize = 0;
             db.ctrl.currentIXCount = 0;
             b.resize(kCtrlRecSize);
         },
         0, F::none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DbFile db = buildTree(entries(30), JournalInfo{});
        Bytes cut = {1};
        c.damage(db, cut);
        Bytes image = db.image();
        if (cut.size() != 1) image.resize(cut.size());
        long walked = 0;
        EXPECT_EQ(c.rc, openAndWalk(image, c.name, &walked));
        btformat::CtrlFaults faults = btformat::checkCtrlRec(image.data(), std::min<size_t>(image.size(), kCtrlRecSize),
                                                             (int64_t)image.size(), 32);
        EXPECT_EQ(c.fault, faults.first()) << btformat::faultText(faults.first());
    }
}

// The index array may be reserved ahead of the slots by 2^24 entries more
// than the file could hold, and no further.
TEST(FormatChecks, IndexArrayReservedUpToItsLimit) {
    for (uint32_t extra : {0u, 1u}) {
        SCOPED_TRACE(extra);
        DbFile db = buildTree(entries(30), JournalInfo{});
        const uint64_t fileBytes = db.image().size();
        db.ctrl.indexArraySize = (uint32_t)((fileBytes - kCtrlRecSize) / kNodeInfoSize + (1u << 24) + extra);
        long walked = 0;
        const Bytes image = db.image();
        EXPECT_EQ(extra == 0 ? 0 : btErrCorrupt, openAndWalk(image, "reserved", &walked));
        btformat::CtrlFaults faults = btformat::checkCtrlRec(image.data(), kCtrlRecSize, (int64_t)image.size(), 32);
        EXPECT_EQ(extra == 0, !faults.has(F::ctrlIndexArraySize));
        if (extra == 0) {
            EXPECT_EQ(30, walked);
        }
    }
}

// Every fault has a text of its own.
TEST(FormatChecks, EveryFaultSaysWhatItIs) {
    std::vector<std::string> seen;
    for (int f = 0; f <= (int)F::nodeTrailing; ++f) {
        std::string t = btformat::faultText((F)f);
        EXPECT_NE("unknown fault", t);
        EXPECT_EQ(seen.end(), std::find(seen.begin(), seen.end(), t)) << t;
        seen.push_back(t);
    }
}
