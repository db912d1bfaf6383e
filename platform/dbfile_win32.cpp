#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "dbfile.h"
#include "platform_internal.h"

namespace plat {

namespace {

// errno for a failed transfer, as the run-time would set it.
void setErrnoFrom(DWORD err) {
    switch (err) {
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_DISK_FULL:
            errno = ENOSPC;
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_LOCK_VIOLATION:
        case ERROR_SHARING_VIOLATION:
            errno = EACCES;
            break;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            errno = ENOMEM;
            break;
        default:
            errno = EIO;
            break;
    }
}

// The position of a transfer, for ReadFile and WriteFile.
OVERLAPPED positionAt(int64_t pos) {
    OVERLAPPED at{};
    at.Offset = (DWORD)(uint64_t)pos;
    at.OffsetHigh = (DWORD)((uint64_t)pos >> 32);
    return at;
}

// One transfer is at most 1 GiB.
DWORD chunk(size_t left) { return left > 0x40000000u ? 0x40000000u : (DWORD)left; }

}  // namespace

DbFile* DbFile::open(const char* path, Mode mode) {
    // The run-time's open gives the same errno values as its fopen would.
    int flags = (mode == Mode::ReadOnly ? _O_RDONLY : _O_RDWR) | _O_BINARY | _O_NOINHERIT;
    if (mode == Mode::Create) flags |= _O_CREAT | _O_TRUNC;
    int fd = detail::utf8FileNames ? ::_wopen(detail::widePath(path).c_str(), flags, _S_IREAD | _S_IWRITE)
                                   : ::_open(path, flags, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    return new DbFile(fd);
}

DbFile::~DbFile() {
    stopHelper();
    ::_close((int)handle_);
}

void DbFile::readPart(ReadRequest* reqs, size_t n, bool) {
    // Each read names its position, so two threads read the same handle.
    for (size_t i = 0; i < n; ++i) {
        errno = 0;
        reqs[i].got = readAt(reqs[i].pos, reqs[i].buf, reqs[i].len);
        reqs[i].err = reqs[i].got < 0 ? errno : 0;
    }
}

int64_t DbFile::readAt(int64_t pos, void* buf, size_t n) {
    HANDLE h = (HANDLE)::_get_osfhandle((int)handle_);
    size_t done = 0;
    while (done < n) {
        OVERLAPPED at = positionAt(pos + (int64_t)done);
        DWORD got = 0;
        if (!::ReadFile(h, static_cast<char*>(buf) + done, chunk(n - done), &got, &at)) {
            DWORD err = ::GetLastError();
            if (err == ERROR_HANDLE_EOF) break;
            setErrnoFrom(err);
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return (int64_t)done;
}

int64_t DbFile::writeAt(int64_t pos, const void* buf, size_t n) {
    HANDLE h = (HANDLE)::_get_osfhandle((int)handle_);
    size_t done = 0;
    while (done < n) {
        OVERLAPPED at = positionAt(pos + (int64_t)done);
        DWORD put = 0;
        if (!::WriteFile(h, static_cast<const char*>(buf) + done, chunk(n - done), &put, &at)) {
            setErrnoFrom(::GetLastError());
            return -1;
        }
        if (put == 0) break;
        done += put;
    }
    return (int64_t)done;
}

bool DbFile::truncate() { return ::_chsize_s((int)handle_, 0) == 0; }

int64_t DbFile::size() {
    HANDLE h = (HANDLE)::_get_osfhandle((int)handle_);
    LARGE_INTEGER s;
    if (!::GetFileSizeEx(h, &s)) {
        setErrnoFrom(::GetLastError());
        return -1;
    }
    return (int64_t)s.QuadPart;
}

}  // namespace plat
