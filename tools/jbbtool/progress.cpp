#include "progress.h"

#include <cstdio>

#include "platform.h"

namespace jbbtool {

ProgressLine::ProgressLine(const char* command, int64_t total)
    : command_(command), total_(total), enabled_(plat::stderrIsTerminal()) {}

std::function<void(int64_t)> ProgressLine::callback() {
    if (!enabled_) return nullptr;
    return [this](int64_t done) {
        int pct = total_ > 0 ? (int)(done * 100 / total_) : 0;
        std::fprintf(stderr, "\rjbbtool %s: %3d%% (%lld of %lld bytes)", command_.c_str(), pct, (long long)done,
                     (long long)total_);
        std::fflush(stderr);
        shown_ = true;
    };
}

void ProgressLine::finish() {
    if (shown_) std::fputs("\r\033[K", stderr);
    shown_ = false;
}

}  // namespace jbbtool
