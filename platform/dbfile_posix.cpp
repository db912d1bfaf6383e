#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "dbfile.h"
#include "uring_linux.h"

namespace plat {

DbFile* DbFile::open(const char* path, Mode mode) {
    int flags = mode == Mode::Create ? (O_RDWR | O_CREAT | O_TRUNC) : mode == Mode::ReadOnly ? O_RDONLY : O_RDWR;
    auto openWith = [&](int extra) {
        int fd;
        do {
            fd = ::open(path, flags | extra | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        return fd;
    };
#ifdef O_NOATIME
    // Reading a node does not touch the file's access time, which spares
    // the kernel a check on every read; only the file's owner may ask so.
    int fd = openWith(O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = openWith(0);
#else
    int fd = openWith(0);
#endif
    if (fd < 0) return nullptr;
    return new DbFile(fd);
}

DbFile::~DbFile() {
    delete static_cast<ReadRing*>(batchReader_);
    ::close((int)handle_);
}

void DbFile::readBatch(ReadRequest* reqs, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        reqs[i].got = -1;
        reqs[i].err = 0;
    }
    if (n > 1 && !batchTried_) {
        batchTried_ = true;
        auto* ring = new ReadRing;
        if (ring->init(128))
            batchReader_ = ring;
        else
            delete ring;
    }
    auto* ring = static_cast<ReadRing*>(batchReader_);
    if (n > 1 && ring != nullptr && !ring->readAll((int)handle_, reqs, n)) {
        delete ring;
        batchReader_ = nullptr;
    }
    // Whatever the ring did not read whole (the end of the file, a failure,
    // no ring at all) is read the plain way, which also sets errno.
    for (size_t i = 0; i < n; ++i) {
        ReadRequest& r = reqs[i];
        if (r.got == (int64_t)r.len) continue;
        errno = 0;
        r.got = readAt(r.pos, r.buf, r.len);
        r.err = r.got < 0 ? errno : 0;
    }
}

int64_t DbFile::readAt(int64_t pos, void* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
        ssize_t got = ::pread((int)handle_, static_cast<char*>(buf) + done, n - done, (off_t)(pos + (int64_t)done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;  // end of file
        done += (size_t)got;
    }
    return (int64_t)done;
}

int64_t DbFile::writeAt(int64_t pos, const void* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
        ssize_t put =
            ::pwrite((int)handle_, static_cast<const char*>(buf) + done, n - done, (off_t)(pos + (int64_t)done));
        if (put < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (put == 0) break;
        done += (size_t)put;
    }
    return (int64_t)done;
}

bool DbFile::truncate() { return ::ftruncate((int)handle_, 0) == 0; }

int64_t DbFile::size() {
    struct stat st;
    if (::fstat((int)handle_, &st) != 0) return -1;
    return (int64_t)st.st_size;
}

}  // namespace plat
