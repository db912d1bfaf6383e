// A file-size limit for the test process (RLIMIT_FSIZE, with SIGXFSZ
// ignored so that a write past it fails with EFBIG instead of ending the
// process), restored when the guard goes.  A regular file that cannot take
// another byte, where /dev/full would be refused as no regular file.
// POSIX only: on Windows active() is false and nothing is limited.
#pragma once

#include <cstdint>

#if !defined(_WIN32)
#include <sys/resource.h>

#include <csignal>
#endif

class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes) {
#if !defined(_WIN32)
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        active_ = getrlimit(RLIMIT_FSIZE, &old_) == 0;
        rlimit lim = old_;
        lim.rlim_cur = static_cast<rlim_t>(bytes);
        active_ = active_ && setrlimit(RLIMIT_FSIZE, &lim) == 0;
#else
        (void)bytes;
#endif
    }
    ~FileSizeLimit() {
#if !defined(_WIN32)
        if (active_) setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
#endif
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool active() const { return active_; }

private:
    bool active_ = false;
#if !defined(_WIN32)
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
#endif
};
