// A progress line on standard error for long passes, shown only when
// standard error is a terminal (a log file gets none).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace jbbtool {

class ProgressLine {
public:
    // `total`: the bytes the pass will cover.
    ProgressLine(const char* command, int64_t total);
    ~ProgressLine() { finish(); }
    // The callback to hand to a pass (empty when no line is shown).
    std::function<void(int64_t)> callback();
    // Clears the line.
    void finish();

private:
    std::string command_;
    int64_t total_;
    bool shown_ = false;
    bool enabled_;
};

}  // namespace jbbtool
