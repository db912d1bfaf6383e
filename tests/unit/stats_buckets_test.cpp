// jbbtool stats' key-length buckets: 16 units wide up to 256, then
// doubling, the last one open; each length falls in the bucket named for it.
#include <gtest/gtest.h>

#include <string>

#include "stats.h"

TEST(StatsBuckets, NamesAndLengthsAgreeAtEveryEdge) {
    const struct {
        size_t bucket;
        const char* name;
        size_t first, last;  // the lengths at its edges
    } rows[] = {
        {0, "0-15", 0, 15},           {1, "16-31", 16, 31},        {15, "240-255", 240, 255},
        {16, "256-511", 256, 511},    {17, "512-1023", 512, 1023}, {22, "16384-32767", 16384, 32767},
        {23, "32768-", 32768, 65535},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(jbbtool::bucketName(r.bucket), r.name);
        EXPECT_EQ(jbbtool::bucketOf(r.first), r.bucket) << r.first;
        EXPECT_EQ(jbbtool::bucketOf(r.last), r.bucket) << r.last;
    }
    EXPECT_EQ(jbbtool::bucketOf(1000000), 23u);
}
