// The services of outputfile.h on Windows: identities from
// GetFileInformationByHandle, the replacement by MoveFileEx.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "outputfile.h"
#include "platform_internal.h"

namespace plat {

namespace {

int errnoOf(DWORD e) {
    switch (e) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        default:
            return EIO;
    }
}

HANDLE openHandle(const char* path, DWORD access, DWORD disposition, DWORD flags) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE h = detail::utf8FileNames ? CreateFileW(detail::widePath(path).c_str(), access, share, nullptr,
                                                         disposition, flags, nullptr)
                                           : CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) errno = errnoOf(GetLastError());
    return h;
}

FileId idOf(const BY_HANDLE_FILE_INFORMATION& info) {
    FileId id;
    id.volume = info.dwVolumeSerialNumber;
    id.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return id;
}

}  // namespace

bool fileIdentity(const char* path, FileId* id) {
    // No access asked, and backup semantics: a directory opens as well.
    const HANDLE h = openHandle(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    if (ok) *id = idOf(info);
    CloseHandle(h);
    if (!ok) errno = EIO;
    return ok;
}

bool examineOutput(const char* path, size_t headBytes, ExistingOutput* out) {
    *out = ExistingOutput();
    // FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link (or any other
    // reparse point) itself, so that it can be refused.
    const HANDLE h =
        openHandle(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (h == INVALID_HANDLE_VALUE) return errno == ENOENT;
    out->exists = true;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info)) {
        out->refusal = "not a regular file";
        CloseHandle(h);
        return true;
    }
    out->id = idOf(info);
    out->size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        out->refusal = "a symbolic link";
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        out->refusal = "not a regular file";
    } else if (info.nNumberOfLinks > 1) {
        out->refusal = "a file with more than one hard link";
    } else {
        out->head.resize(headBytes);
        size_t got = 0;
        while (got < headBytes) {
            DWORD n = 0;
            if (!ReadFile(h, &out->head[got], static_cast<DWORD>(headBytes - got), &n, nullptr)) {
                errno = errnoOf(GetLastError());
                CloseHandle(h);
                return false;
            }
            if (n == 0) break;
            got += n;
        }
        out->head.resize(got);
    }
    CloseHandle(h);
    return true;
}

FILE* createNewFile(const char* path) {
    const HANDLE h = openHandle(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        removeFile(path);
        errno = EIO;
        return nullptr;
    }
    FILE* f = _fdopen(fd, "wb");
    if (f == nullptr) {
        const int err = errno;
        _close(fd);
        removeFile(path);
        errno = err;
    }
    return f;
}

bool replaceFile(const char* from, const char* to) {
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    const BOOL ok = detail::utf8FileNames
                        ? MoveFileExW(detail::widePath(from).c_str(), detail::widePath(to).c_str(), flags)
                        : MoveFileExA(from, to, flags);
    if (!ok) errno = errnoOf(GetLastError());
    return ok != 0;
}

bool removeFile(const char* path) {
    const BOOL ok = detail::utf8FileNames ? DeleteFileW(detail::widePath(path).c_str()) : DeleteFileA(path);
    if (!ok) errno = errnoOf(GetLastError());
    return ok != 0;
}

bool stdoutBinary() {
    std::fflush(stdout);
    return _setmode(_fileno(stdout), _O_BINARY) != -1;
}

}  // namespace plat
