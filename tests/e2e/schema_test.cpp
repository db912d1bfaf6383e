// Every JSON document jbbtool writes validates against the schema that
// `jbbtool schema NAME` prints: check, stats, dump and diff on a sound
// journal of jbbgen, one the service holds open, an empty tree, a journal
// damaged in several ways, a file shorter than a control record, a journal
// with an unpaired surrogate in a key (a note) and noise for salvage.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "dbwriter.h"
#include "platform.h"
#include "schemacheck.h"
#include "viewrun.h"

using namespace testdb;

namespace {

TEST(JsonSchemas, EveryJsonOutputValidates) {
    TempDir dir;
    auto tool = [&](const std::vector<std::string>& args) { return runProgram(JBBTOOL_PATH, args, "", dir.path()); };
    auto put = [&](const std::string& name, const Bytes& image) {
        EXPECT_TRUE(writeFile(dir.file(name), image));
        return dir.file(name);
    };
    ASSERT_EQ(runProgram(JBBGEN_PATH, {dir.file("sound"), "--count", "3000", "--seed", "8"}, "", dir.path()).status, 0);
    ASSERT_EQ(runProgram(JBBGEN_PATH, {dir.file("open"), "--count", "50", "--leave-open"}, "", dir.path()).status, 0);
    const std::string sound = dir.file("sound.jbbdb"), open = dir.file("open.jbbdb");
    const std::string empty = put("empty.jbbdb", CtrlRec().bytes());

    // Several kinds of damage in one file.
    TreeInfo info;
    TreeOptions o;
    o.height = 3;
    o.freeSlots = 2;
    DbFile d = buildTree(journalEntries(400, 3), JournalInfo(), o, &info);
    d.ctrl.lastIndex = 0;
    d.findSlot(info.levels[2][0])->node.magic = 0x1234;
    Node& unordered = d.findSlot(info.levels[2][2])->node;
    unordered.datums[2].key = unordered.datums[1].key;
    d.findSlot(info.levels[2][4])->node.datums.resize(2);
    d.slots.insert(d.slots.begin() + 2, Slot::rawBytes(Bytes(100, 0x55)));
    const std::string damaged = put("damaged.jbbdb", d.image());
    Bytes cut = d.image();
    cut.resize(1000);
    const std::string shortFile = put("short.jbbdb", cut);
    const std::string noise = put("noise.jbbdb", Bytes(50000, 0xCD));

    std::vector<Entry> a = journalEntries(200, 5);
    a.push_back({u"C:\\odd\\lone\xD800surrogate", {}});
    sortEntries(a);
    std::vector<Entry> b = a;
    b.erase(b.begin() + 10);
    b[20].rec.action = 99;
    b.push_back({u"\xFF01zzz\xDC00", {}});
    const std::string odd = put("odd.jbbdb", buildTree(a, JournalInfo()).image());
    const std::string other = put("other.jbbdb", buildTree(b, JournalInfo()).image());

    // Each output to a file, by schema.
    std::map<std::string, std::vector<std::string>> docs;
    int n = 0;
    auto run = [&](const std::string& schema, std::vector<std::string> args, int status) {
        RunResult r = tool(args);
        EXPECT_EQ(r.status, status) << args[0] << " " << args.back() << ": " << r.err;
        docs[schema].push_back(put(schema + std::to_string(++n) + ".json", Bytes(r.out.begin(), r.out.end())));
        return r.out;
    };
    for (const std::string& f : {sound, open, empty, odd}) {
        run("check", {"check", "--json", f}, 0);
        run("stats", {"stats", "--json", f}, 0);
        std::string dump = run("dump", {"dump", "--json", f}, 0);
        EXPECT_EQ(dump.compare(0, 27, "{\"schema\":\"jbbtool.dump/1\","), 0) << dump.substr(0, 80);
    }
    const std::string checked = run("check", {"check", "--json", damaged}, 1);
    for (const char* code : {"ctrl-field", "bad-magic", "key-order", "node-fill", "slot-gap"})
        EXPECT_NE(checked.find(std::string("\"") + code + "\":"), std::string::npos) << code << " in " << checked;
    JournalInfo type0;
    type0.type = kJournalUnformatted;
    const std::string justCreated =
        run("check", {"check", "--json", put("type0.jbbdb", buildTree(a, type0).image())}, 1);
    EXPECT_NE(justCreated.find("\"just-created-entries\":1"), std::string::npos) << justCreated;
    EXPECT_EQ(tool({"check", "--json", shortFile}).out, "");
    run("stats", {"stats", "--json", damaged}, 1);
    run("dump", {"dump", "--salvage", "--json", damaged}, 1);
    EXPECT_NE(run("dump", {"dump", "--salvage", "--json", noise}, 1).find("\"appArea\":null}\n"), std::string::npos);
    const std::string diff = run("diff", {"diff", "--json", odd, other}, 1);
    EXPECT_EQ(diff.compare(diff.rfind('\n', diff.size() - 2) + 1, 27, "{\"schema\":\"jbbtool.diff/1\","), 0) << diff;
    for (const char* change : {"only-a", "only-b", "differ"}) EXPECT_NE(diff.find(change), std::string::npos);
    run("diff", {"diff", "--json", sound, sound}, 0);

    bool validated = false;
    for (const auto& s : docs) {
        SCOPED_TRACE(s.first);
        RunResult r = tool({"schema", s.first});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string schema = put(s.first + ".schema.json", Bytes(r.out.begin(), r.out.end()));
        SchemaCheck c = validateJson(schema, s.second, dir.path());
        if (!c.ran) {
            // CI installs the validator: there a missing one is a failure.
            if (std::getenv("CI") != nullptr && !plat::isWindows()) ADD_FAILURE() << c.report;
            GTEST_SKIP() << c.report;
        }
        EXPECT_TRUE(c.valid) << c.report;
        validated = true;
    }
    EXPECT_TRUE(validated);
}

}  // namespace
