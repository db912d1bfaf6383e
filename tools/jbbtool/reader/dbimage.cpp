#include "dbimage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform.h"

namespace jbbtool {

DbImage::~DbImage() {
    prefetch_.reset();
    delete file_;
}

void DbImage::readAhead() {
    if (file_ == nullptr || prefetch_ || size_ <= (int64_t)kWindowBytes) return;
    prefetch_.reset(new WindowPrefetch(file_, windowCap_));
    if (!prefetch_->started()) prefetch_.reset();
}

bool DbImage::open(const std::string& path, std::string* err) {
    path_ = path;
    if (plat::isDirectory(path.c_str())) {
        *err = path + ": is a directory";
        return false;
    }
    errno = 0;
    file_ = plat::DbFile::open(path.c_str(), plat::DbFile::Mode::ReadOnly);
    if (file_ == nullptr) {
        *err = path + ": " + plat::errnoText(errno != 0 ? errno : EIO);
        return false;
    }
    // jbbtool's passes run a second thread of their own where one helps.
    file_->readAlone();
    size_ = file_->size();
    if (size_ < 0) {
        *err = path + ": " + plat::errnoText(errno != 0 ? errno : EIO);
        return false;
    }
    // A small file needs no more window than its own size.
    windowCap_ = size_ < (int64_t)kWindowBytes ? std::max<size_t>((size_t)size_, 4096) : kWindowBytes;
    window_.reset(new uint8_t[windowCap_]);
    std::memset(&ctrl_, 0, sizeof ctrl_);
    size_t want = size_ < (int64_t)ctrlRecSize ? (size_t)size_ : ctrlRecSize;
    if (want > 0 && !readAt(0, &ctrl_, want)) {
        *err = path + ": " + ioError_;
        return false;
    }
    return true;
}

const uint8_t* DbImage::view(int64_t pos, size_t n, size_t* got) {
    *got = 0;
    if (pos < 0 || pos >= size_ || n > windowCap_) return window_.get();
    if (pos < winStart_ || pos + (int64_t)n > winStart_ + (int64_t)winLen_) {
        if (!prefetch_ || !prefetch_->take(pos, n, size_, &window_, &winStart_, &winLen_)) {
            errno = 0;
            int64_t r = file_->readAt(pos, window_.get(), windowCap_);
            if (r < 0) {
                ioError_ =
                    "read error at offset " + std::to_string(pos) + ": " + plat::errnoText(errno != 0 ? errno : EIO);
                winLen_ = 0;
                return nullptr;
            }
            winStart_ = pos;
            winLen_ = (size_t)r;
        }
        if (prefetch_ && winLen_ == windowCap_ && winStart_ + (int64_t)winLen_ < size_)
            prefetch_->request(winStart_ + (int64_t)(winLen_ - kAheadOverlap));
    }
    size_t avail = (size_t)(winStart_ + (int64_t)winLen_ - pos);
    *got = std::min(n, avail);
    return window_.get() + (pos - winStart_);
}

bool DbImage::readAt(int64_t pos, void* buf, size_t n) {
    errno = 0;
    int64_t r = file_->readAt(pos, buf, n);
    if (r < 0) {
        ioError_ = "read error at offset " + std::to_string(pos) + ": " + plat::errnoText(errno != 0 ? errno : EIO);
        return false;
    }
    return r == (int64_t)n;
}

}  // namespace jbbtool
