// A database file read and written at explicit positions, one system call
// per transfer and no stream buffer in between: a node is read whole with
// one positioned read, and a seek never discards anything.
#pragma once

#include <cstddef>
#include <cstdint>

#include "read_batch.h"

namespace plat {

class DbFile {
public:
    enum class Mode {
        Existing,  // an existing file, for reading and writing ("rb+")
        Create,    // created, or truncated to 0 bytes ("wb+")
        ReadOnly,  // an existing file, for reading only ("rb"); writes fail
    };

    // Opens `path`; null with errno set when it cannot be opened.
    static DbFile* open(const char* path, Mode mode);
    ~DbFile();
    DbFile(const DbFile&) = delete;
    DbFile& operator=(const DbFile&) = delete;

    // Reads up to n bytes at pos.  Returns the bytes read: fewer than n only
    // at the end of the file; -1 with errno set on failure.
    int64_t readAt(int64_t pos, void* buf, size_t n);
    // Reads every request (got and err as readAt gives them), handing them
    // to the system together where it can take them so, on two threads
    // where there are two processors.
    void readBatch(ReadRequest* reqs, size_t n);
    // The same in two steps.  readBatchBegin hands the requests to the
    // second thread, where there is one, and returns at once; readBatchEnd
    // ends the oldest batch begun: it reads on the caller's thread what the
    // second thread has not taken of it, and returns when every request of
    // it is read.  The second thread reads the batches in the order they
    // were begun.  At most maxBatchesBegun are begun and not ended (one
    // more ends the oldest first); until its end, the caller leaves a
    // batch's requests and buffers alone.
    void readBatchBegin(ReadRequest* reqs, size_t n);
    void readBatchEnd();
    // From now on every batch is read on the caller's thread alone: for a
    // reader that runs threads of its own, rather than have three threads
    // share two processors.
    void readAlone();
    // Writes n bytes at pos.  Returns the bytes written; -1 with errno set.
    int64_t writeAt(int64_t pos, const void* buf, size_t n);
    // Cuts the file to 0 bytes.  False with errno set.
    bool truncate();
    // Size of the file in bytes, or -1 with errno set.
    int64_t size();

private:
    explicit DbFile(intptr_t handle) : handle_(handle) {}
    intptr_t handle_;
    void* batchReader_ = nullptr;  // the platform's batch reader, once set up
    bool batchTried_ = false;
    // A second thread that takes part in large batches (read_helper.h),
    // and the batch reader it uses.
    void* helper_ = nullptr;
    bool helperTried_ = false;
    void* helperRing_ = nullptr;
    bool helperRingTried_ = false;
    // The batches begun and not yet ended, oldest first (those of two or
    // more requests are with the helper when there is one).
    struct Begun {
        ReadRequest* reqs;
        size_t count;
    };
    Begun begun_[maxBatchesBegun] = {};
    size_t begunCount_ = 0;
    // The helper, started at the first batch of two or more reads, or null.
    void* batchHelper(size_t n);
    // Ends the batches begun and stops the helper.
    void stopHelper();
    // Reads part of a batch (every request, got and err set), on the
    // caller's thread or the helper's.
    void readPart(ReadRequest* reqs, size_t n, bool onHelper);
};

}  // namespace plat
