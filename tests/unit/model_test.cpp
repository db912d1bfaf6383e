// Model-based tests of the write side: random inserts, replacements and
// deletes against a std::map, with the database closed and reopened along
// the way.  After every close the file must pass the structural checker
// and hold exactly the model's entries; after every reopening a full walk
// and searches must agree with the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dbwriter.h"
#include "jbbtreev.h"
#include "treecheck.h"
#include "viewrun.h"

using namespace testdb;

namespace {

using Model = std::map<std::u16string, Bytes>;

class Tree : public bTree {
public:
    Tree() : bTree(32, 0) {}
    int visitEntry(const char16_t* key, const uint8_t* data) override {
        if (cursor == model->end() || cursor->first != key || !std::equal(data, data + 32, cursor->second.begin())) {
            ++mismatches;
            if (firstMismatch.empty()) firstMismatch = utf16ToUtf8(key);
        }
        if (cursor != model->end()) ++cursor;
        ++visited;
        return 0;
    }
    // Walks the tree against the model.
    void expectWalkMatches(const Model& m) {
        model = &m;
        cursor = m.begin();
        visited = 0;
        mismatches = 0;
        firstMismatch.clear();
        EXPECT_EQ(0, WalkTree());
        EXPECT_EQ(m.size(), visited);
        EXPECT_EQ(0u, mismatches) << "first at " << firstMismatch;
    }
    const Model* model = nullptr;
    Model::const_iterator cursor;
    size_t visited = 0;
    size_t mismatches = 0;
    std::string firstMismatch;
};

// Path-like keys of varied length; some carry non-ASCII characters, a few
// are long enough to make nodes of several kilobytes.
class KeyMaker {
public:
    explicit KeyMaker(uint64_t seed) : rng_(seed) {}
    std::u16string make(uint64_t n) {
        static const char16_t* const dirs[] = {u"Windows", u"Users\\anna", u"Program Files", u"Données",
                                               u"Проекты", u"tmp",         u"データ"};
        std::u16string k = u"C:\\";
        k += dirs[n % 7];
        k += u"\\";
        std::string num = std::to_string(n * 2654435761u % 1000003u) + "-" + std::to_string(n);
        k += utf8ToUtf16(num);
        if (rng_() % 40 == 0) k.append(100 + rng_() % 900, static_cast<char16_t>(u'a' + n % 26));
        if (rng_() % 5 == 0) k += u".txt";
        return k;
    }

private:
    std::mt19937_64 rng_;
};

Bytes randomData(std::mt19937_64& rng) {
    Bytes b(32);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

class ModelTest : public ::testing::Test {
protected:
    void closeAndCheck(Tree& t, const Model& m) {
        int rc = -1;
        t.closeBtDb(&rc, 0);
        ASSERT_EQ(0, rc);
        TreeShape shape;
        std::vector<std::string> problems = checkTreeFile(path, kDbClosed, &shape);
        ASSERT_TRUE(problems.empty()) << joinProblems(problems);
        ASSERT_EQ(m.size(), shape.entries);
    }
    // Reopens and compares a walk and searches (every key up to `searches`
    // of them, plus keys that are not there) with the model.
    void reopenAndCompare(Tree& t, const Model& m, std::mt19937_64& rng, size_t searches,
                          const std::vector<std::u16string>& absent) {
        closeAndCheck(t, m);
        if (HasFatalFailure()) return;
        ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
        t.expectWalkMatches(m);
        size_t step = m.size() <= searches ? 1 : m.size() / searches;
        size_t i = rng() % step;
        for (auto it = m.begin(); it != m.end(); ++it, ++i) {
            if (i % step != 0) continue;
            uint8_t* d = t.Search(it->first.c_str());
            ASSERT_NE(nullptr, d) << utf16ToUtf8(it->first);
            ASSERT_TRUE(std::equal(d, d + 32, it->second.begin())) << utf16ToUtf8(it->first);
        }
        for (const auto& k : absent) {
            if (m.count(k) != 0) continue;
            EXPECT_EQ(nullptr, t.Search(k.c_str())) << utf16ToUtf8(k);
        }
    }

    TempDir dir;
    std::string path = dir.file("model.jbbdb");
};

}  // namespace

TEST_F(ModelTest, ChurnOverASmallKeySpace) {
    // Inserts, replacements and deletes in equal measure over 2000 keys keep
    // the tree growing and shrinking through every repair, the empty tree
    // included.
    std::mt19937_64 rng(20240601);
    KeyMaker keys(1);
    std::vector<std::u16string> space;
    for (int i = 0; i < 2000; ++i) space.push_back(keys.make(i));
    Model m;
    Tree t;
    ASSERT_EQ(0, t.openBtDb(path.c_str(), 1));
    for (int round = 0; round < 24; ++round) {
        // Some rounds mostly insert, some mostly delete.
        int insertShare = round % 6 < 3 ? 70 : 25;
        for (int op = 0; op < 1500; ++op) {
            const std::u16string& k = space[rng() % (round % 6 == 5 ? 60 : space.size())];
            if (int(rng() % 100) < insertShare) {
                Bytes d = randomData(rng);
                int expected = m.count(k) ? 1 : 0;
                ASSERT_EQ(expected, t.Insert(k.c_str(), d.data())) << "round " << round << " op " << op;
                m[k] = d;
            } else {
                int expected = m.count(k) ? 0 : 1;
                ASSERT_EQ(expected, t.Delete(k.c_str())) << "round " << round << " op " << op;
                m.erase(k);
            }
        }
        reopenAndCompare(t, m, rng, 500, {space[rng() % space.size()], u"C:\\", u"D:\\nowhere"});
        if (HasFatalFailure()) return;
    }
    // Empty it completely, then fill it again.
    while (!m.empty()) {
        auto it = m.begin();
        std::advance(it, rng() % m.size());
        ASSERT_EQ(0, t.Delete(it->first.c_str()));
        m.erase(it);
    }
    reopenAndCompare(t, m, rng, 10, {space[0]});
    for (int i = 0; i < 300; ++i) {
        Bytes d = randomData(rng);
        const std::u16string& k = space[i];
        ASSERT_EQ(0, t.Insert(k.c_str(), d.data()));
        m[k] = d;
    }
    reopenAndCompare(t, m, rng, 300, {});
    closeAndCheck(t, m);
}

TEST_F(ModelTest, HundredThousandEntries) {
    // Changes come in bursts within one directory, as a journal sees them:
    // each burst inserts the next files of a directory (with now and then a
    // replacement or a delete anywhere), and at the end whole directories
    // go.  The bursts keep the nodes they touch in the cache, which keeps
    // this size fast; the splits still happen all over the tree.
    const size_t target = 100000;
    const int dirCount = 400;
    std::mt19937_64 rng(77);
    KeyMaker names(2);
    std::vector<std::u16string> dirs;
    for (int d = 0; d < dirCount; ++d) dirs.push_back(names.make(d) + u"\\");
    std::vector<int> filesIn(dirCount, 0);
    auto fileKey = [&](int d, int f) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%06d", f);
        std::u16string k = dirs[d] + utf8ToUtf16(buf);
        if (f % 97 == 5) k.append(300, u'x');
        return k;
    };
    Model m;
    std::vector<std::u16string> inserted;
    inserted.reserve(target + target / 10);
    Tree t;
    ASSERT_EQ(0, t.openBtDb(path.c_str(), 1));
    size_t nextCheck = 35000;
    while (m.size() < target) {
        int d = static_cast<int>(rng() % dirCount);
        int burst = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < burst; ++i) {
            std::u16string k = fileKey(d, filesIn[d]++);
            Bytes data = randomData(rng);
            ASSERT_EQ(0, t.Insert(k.c_str(), data.data())) << utf16ToUtf8(k);
            m[k] = data;
            inserted.push_back(k);
        }
        unsigned r = rng() % 100;
        const std::u16string& k = inserted[rng() % inserted.size()];
        if (r < 40) {
            Bytes data = randomData(rng);
            ASSERT_EQ(m.count(k) ? 1 : 0, t.Insert(k.c_str(), data.data()));
            m[k] = data;
        } else if (r < 70) {
            ASSERT_EQ(m.count(k) ? 0 : 1, t.Delete(k.c_str()))
                << "dbErrno " << t.dbGetLastError() << " size " << m.size();
            m.erase(k);
        }
        if (m.size() >= nextCheck) {
            nextCheck += 35000;
            reopenAndCompare(t, m, rng, 2000, {fileKey(d, filesIn[d])});
            if (HasFatalFailure()) return;
        }
    }
    reopenAndCompare(t, m, rng, 5000, {fileKey(0, filesIn[0])});
    if (HasFatalFailure()) return;
    // Whole directories go, one file after the other.
    for (int i = 0; i < dirCount / 8; ++i) {
        int d = static_cast<int>(rng() % dirCount);
        for (int f = 0; f < filesIn[d]; ++f) {
            std::u16string k = fileKey(d, f);
            ASSERT_EQ(m.count(k) ? 0 : 1, t.Delete(k.c_str())) << utf16ToUtf8(k);
            m.erase(k);
        }
    }
    reopenAndCompare(t, m, rng, 2000, {fileKey(1, 0)});
    closeAndCheck(t, m);
}
