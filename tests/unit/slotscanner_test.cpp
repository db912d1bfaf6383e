// The inventory's scan of slot info blocks through windows of the file that
// the second thread reads ahead: a block is served whole wherever it lies
// against a window's end, after a slot that skips whole windows, and the
// scan ends at a block the file cuts short.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "dbfile.h"
#include "platform.h"
#include "helpermode.h"
#include "slotscanner.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t window = 512 << 10;  // the scanner's window
constexpr int64_t first = ctrlRecSize;

// The windows' ends for a scan from `first` that never jumps: each window
// begins an info block before the end of the one before.
int64_t windowEnd(int i) { return first + (i + 1) * window - i * (int64_t)nodeInfoSize; }

// Slot starts: across the end of window i, a block starting 24 - i bytes
// before it (24: the last whole block, 0: the first block of the next
// window); one slot that skips three windows; a last block that the end
// of the file cuts short by `cut` bytes.
std::vector<int64_t> slotStarts(int64_t cut, int64_t* fileBytes) {
    std::vector<int64_t> starts{first};
    for (int i = 0; i <= 24; ++i) {
        int64_t at = windowEnd(i) - (24 - i);
        starts.push_back(at - 1000);  // an ordinary slot before it
        starts.push_back(at);
    }
    starts.push_back(starts.back() + 100);
    starts.push_back(starts.back() + 3 * window + 5000);  // skips windows
    starts.push_back(starts.back() + 40);
    *fileBytes = starts.back() + (int64_t)nodeInfoSize - cut;
    return starts;
}

}  // namespace

TEST(SlotScanner, ServesEveryBlockWholeWhereverItLies) {
    for (int64_t cut : {14, 1}) {
        SCOPED_TRACE(cut);
        int64_t fileBytes = 0;
        const std::vector<int64_t> starts = slotStarts(cut, &fileBytes);
        std::vector<uint8_t> image((size_t)fileBytes, 0xEE);
        // Each block holds its slot's number and length; its last byte is
        // never 0, so that a block read a byte short shows.
        for (size_t i = 0; i + 1 < starts.size(); ++i) {
            const uint64_t length = (uint64_t)(starts[i + 1] - starts[i]);
            const uint32_t number = 0xA5000000u | ((uint32_t)i + 1);
            std::memcpy(&image[(size_t)starts[i] + infoOff::slotLength], &length, 8);
            std::memcpy(&image[(size_t)starts[i] + infoOff::ixaSubscript], &number, 4);
        }
        const fs::path path =
            fs::temp_directory_path() / ("jbb_slotscan_" + std::to_string(plat::processId()) + ".bin");
        {
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(image.data()), (std::streamsize)image.size());
        }
        for (int helper : {1, 0}) {
            SCOPED_TRACE(helper);
            ReadHelperMode mode(helper);
            plat::DbFile* f = plat::DbFile::open(path.string().c_str(), plat::DbFile::Mode::ReadOnly);
            ASSERT_NE(nullptr, f);
            {
                SlotScanner scan(f);
                ASSERT_TRUE(scan.ready());
                int64_t where = first;
                size_t seen = 0;
                for (;;) {
                    const uint8_t* block = nullptr;
                    const int got = scan.next(where, &block);
                    ASSERT_TRUE(got == 0 || got == 1) << got;
                    if (got == 0) break;
                    ASSERT_LT(seen + 1, starts.size()) << "a block past the end of the file";
                    ASSERT_EQ(starts[seen], where);
                    EXPECT_EQ(0, std::memcmp(block, &image[(size_t)where], nodeInfoSize)) << "slot " << seen;
                    const uint8_t* again = scan.inWindow(where);
                    if (again != nullptr) {
                        EXPECT_EQ(block, again);
                    }
                    uint64_t length;
                    std::memcpy(&length, block + infoOff::slotLength, 8);
                    where += (int64_t)length;
                    ++seen;
                }
                EXPECT_EQ(starts.size() - 1, seen) << "every whole block, and not the cut one";
                EXPECT_EQ(starts.back(), where);
            }
            delete f;
        }
        fs::remove(path);
    }
}
