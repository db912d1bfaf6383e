// Puts the trace facility back into its starting state around a test:
// output closed, every class off, a fresh control block, threads disabled.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "logutils.h"
#include "psthread.h"
#include "trace.h"
#include "viewrun.h"

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }

    static void resetAll() {
        TraceControl* tc = traceInstallControl();
        traceClose(1);
        traceFlag_ERROR = 0;
        const psMutex keep = tc->controlMutex;
        *tc = TraceControl{};
        tc->controlMutex = keep;
        threadsDisabled = 1;
    }

    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    // The next-write offset in a wrapping file's header.
    static size_t headerOffset(const std::string& bytes) {
        return static_cast<size_t>(std::stoul(bytes.substr(12, 12)));
    }

    testdb::TempDir dir;
};
