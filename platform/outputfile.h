// The file-system services behind writing an output file safely (see
// tools/safeoutput.h): what stands at a name, which file a name leads to,
// a new file made beside the target, and the rename that puts it in place.
// Paths follow plat::useUtf8FileNames() as every other path of this layer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace plat {

// The identity of a file: device and inode on POSIX systems, the volume
// serial number and the file ID on Windows.  Two names lead to the same
// file exactly when their identities are equal.
struct FileId {
    uint64_t volume = 0;
    uint64_t file = 0;
    bool operator==(const FileId& o) const { return volume == o.volume && file == o.file; }
};

// The identity of the file `path` leads to, following symbolic links;
// false with errno set when it cannot be found.
bool fileIdentity(const char* path, FileId* id);

// What stands at an output's name now, examined without following a
// symbolic link there and without changing it.
struct ExistingOutput {
    bool exists = false;
    // Why it must not be replaced whatever its contents: "a symbolic link",
    // "not a regular file", "a file with more than one hard link"; null for
    // a plain regular file (or none).
    const char* refusal = nullptr;
    FileId id;
    int64_t size = 0;
    std::string head;  // its first bytes (at most the number asked for)
};

// Examines `path` and reads up to `headBytes` of its first bytes.  False
// with errno set when it exists but cannot be examined or read.
bool examineOutput(const char* path, size_t headBytes, ExistingOutput* out);

// Creates the new file `path` for writing in binary mode; fails (errno
// EEXIST) when the name is taken, never opening what is there.
FILE* createNewFile(const char* path);

// Puts the file `from` in the place of `to` in one step: whoever opens
// `to` finds the old file or the new one whole, never neither (rename;
// MoveFileEx with MOVEFILE_REPLACE_EXISTING on Windows).  False with errno
// set on failure, when both files are as they were.
bool replaceFile(const char* from, const char* to);

// Removes the file `path`; false with errno set on failure.
bool removeFile(const char* path);

// Puts standard output in binary mode, for a file written there: on
// Windows text mode would turn each LF into CR LF.  Elsewhere there is
// nothing to do.  False when the mode cannot be set.
bool stdoutBinary();

}  // namespace plat
