// A database file's batches of reads, the same on every platform: read at
// once, or begun and ended later, shared with a second thread where there
// is one.  Each platform reads a part of a batch its own way (readPart).
#include "dbfile.h"
#include "read_helper.h"

namespace plat {

void* DbFile::batchHelper(size_t n) {
    if (n > 1 && !helperTried_) {
        helperTried_ = true;
        helper_ = ReadHelper::start([this](ReadRequest* r, size_t k, bool onHelper) { readPart(r, k, onHelper); });
    }
    return n > 1 ? helper_ : nullptr;
}

void DbFile::stopHelper() {
    while (begunCount_ > 0) readBatchEnd();
    delete static_cast<ReadHelper*>(helper_);
    helper_ = nullptr;
}

void DbFile::readAlone() {
    stopHelper();
    helperTried_ = true;
}

void DbFile::readBatch(ReadRequest* reqs, size_t n) {
    readBatchBegin(reqs, n);
    readBatchEnd();
}

void DbFile::readBatchBegin(ReadRequest* reqs, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        reqs[i].got = -1;
        reqs[i].err = 0;
    }
    if (begunCount_ == maxBatchesBegun) readBatchEnd();
    begun_[begunCount_++] = Begun{reqs, n};
    if (auto* helper = static_cast<ReadHelper*>(batchHelper(n))) helper->begin(reqs, n);
}

void DbFile::readBatchEnd() {
    if (begunCount_ == 0) return;
    Begun b = begun_[0];
    for (size_t i = 1; i < begunCount_; ++i) begun_[i - 1] = begun_[i];
    --begunCount_;
    if (auto* helper = static_cast<ReadHelper*>(batchHelper(b.count))) {
        helper->finishOldest();
        return;
    }
    readPart(b.reqs, b.count, false);
}

}  // namespace plat
