// Trace entry points while tracing is inactive: they must return 0, leave
// errno alone, and must not format their arguments.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

#include "nlslog.h"
#include "trace.h"

namespace {

// A pointer that would crash any attempt to format it with %s.
const char* const kUnreadable = reinterpret_cast<const char*>(uintptr_t{1});
const char16_t* const kUnreadableW = reinterpret_cast<const char16_t*>(uintptr_t{1});

const TraceLocation kHere{"trace_test.cpp", 42};

}  // namespace

TEST(Trace, NothingIsSwitchedOn) {
    EXPECT_EQ(traceIsActive(), 0);
    EXPECT_EQ(traceFlag_ERROR, 0);
    EXPECT_EQ(traceFlag_GENERAL, 0);
    EXPECT_EQ(traceFlag_MEMORY, 0);
    EXPECT_EQ(traceFlag_PREFIX, 0);
    EXPECT_EQ(traceFlag_BTREEDB, 0);
    EXPECT_EQ(errorLogSuppressed, 0);
}

TEST(Trace, EveryEntryPointKeepsErrnoAndReturnsZero) {
    constexpr int kMarker = 12345;

    errno = kMarker;
    tracePoint(&kHere, 0, "off %d\n", 1);
    EXPECT_EQ(errno, kMarker);
    tracePoint(&kHere, 1, "on %d\n", 1);
    EXPECT_EQ(errno, kMarker);
    tracePointW(&kHere, 0, u"off %d\n", 1);
    EXPECT_EQ(errno, kMarker);
    tracePointW(&kHere, 3, u"on %s\n", u"wide");
    EXPECT_EQ(errno, kMarker);

    EXPECT_EQ(tracePrintf("trace_test.cpp", 1, "%s %d\n", "text", 7), 0);
    EXPECT_EQ(errno, kMarker);
    EXPECT_EQ(traceErrPrintf("trace_test.cpp", 2, 1, "error %d\n", 8), 0);
    EXPECT_EQ(errno, kMarker);
    EXPECT_EQ(tracePlusErrPrintf("trace_test.cpp", 3, 1, "error %d\n", 9), 0);
    EXPECT_EQ(errno, kMarker);
    EXPECT_EQ(traceIsActive(), 0);
    EXPECT_EQ(errno, kMarker);
    EXPECT_EQ(errorLogWrite("report\n"), 0);
    EXPECT_EQ(errno, kMarker);
    errno = 0;
}

// Arguments that do not match their format are never looked at.
TEST(Trace, InactiveEntryPointsDoNotFormat) {
    tracePoint(&kHere, 1, "%s %s %s\n", kUnreadable, kUnreadable, kUnreadable);
    tracePointW(&kHere, 1, u"%s %c\n", kUnreadableW, u'x');
    EXPECT_EQ(tracePrintf("trace_test.cpp", 1, "%s\n", kUnreadable), 0);
    EXPECT_EQ(traceErrPrintf("trace_test.cpp", 2, 3, "%s\n", kUnreadable), 0);
    EXPECT_EQ(tracePlusErrPrintf("trace_test.cpp", 3, 1, "%s\n", kUnreadable), 0);
}
