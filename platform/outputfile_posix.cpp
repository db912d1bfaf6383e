// The services of outputfile.h on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "outputfile.h"

namespace plat {

namespace {

FileId idOf(const struct stat& st) {
    FileId id;
    id.volume = static_cast<uint64_t>(st.st_dev);
    id.file = static_cast<uint64_t>(st.st_ino);
    return id;
}

}  // namespace

bool fileIdentity(const char* path, FileId* id) {
    struct stat st;
    if (::stat(path, &st) != 0) return false;
    *id = idOf(st);
    return true;
}

bool examineOutput(const char* path, size_t headBytes, ExistingOutput* out) {
    *out = ExistingOutput();
    struct stat st;
    if (::lstat(path, &st) != 0) {
        if (errno != ENOENT) return false;
        return true;
    }
    out->exists = true;
    out->id = idOf(st);
    out->size = static_cast<int64_t>(st.st_size);
    if (S_ISLNK(st.st_mode)) {
        out->refusal = "a symbolic link";
        return true;
    }
    if (!S_ISREG(st.st_mode)) {
        out->refusal = "not a regular file";
        return true;
    }
    if (st.st_nlink > 1) {
        out->refusal = "a file with more than one hard link";
        return true;
    }
    // O_NOFOLLOW and O_NONBLOCK: what was swapped in since lstat is
    // neither followed nor waited for.
    const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    out->head.resize(headBytes);
    size_t got = 0;
    while (got < headBytes) {
        const ssize_t n = ::read(fd, &out->head[got], headBytes - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return false;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    out->head.resize(got);
    ::close(fd);
    return true;
}

FILE* createNewFile(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    FILE* f = ::fdopen(fd, "wb");
    if (f == nullptr) {
        const int err = errno;
        ::close(fd);
        ::unlink(path);
        errno = err;
    }
    return f;
}

bool replaceFile(const char* from, const char* to) { return ::rename(from, to) == 0; }

bool removeFile(const char* path) { return ::unlink(path) == 0; }

bool stdoutBinary() { return true; }

}  // namespace plat
