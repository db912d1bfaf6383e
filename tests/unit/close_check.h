// Closing a handle with its writes in unit tests, and checking the file
// it leaves with the structural checker.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jbbtreev.h"
#include "treecheck.h"

namespace testdb {

// Closes `t` (writing its nodes), expects a clean close and a sound,
// closed file at `path`; `shape` gets what the checker found.
inline void closeAndCheck(bTree& t, const std::string& path, TreeShape* shape = nullptr) {
    int rc = -1;
    t.closeBtDb(&rc, 0);
    ASSERT_EQ(0, rc);
    std::vector<std::string> problems = checkTreeFile(path, kDbClosed, shape);
    EXPECT_TRUE(problems.empty()) << joinProblems(problems);
}

}  // namespace testdb
