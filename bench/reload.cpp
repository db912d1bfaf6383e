// Puts files into the same page-cache state before they are timed:
//   reload FILE...
// Each file's cached pages are written back and dropped, then the file is
// read once from start to end.  A file just written in small pieces (as
// the generator and sqlite3 write theirs) is otherwise cached in small
// pages, and one read back sequentially in large ones, and the kernel's
// cost per read differs between the two; after this every file measured
// is cached as a sequential reader leaves it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: reload FILE...\n");
        return 2;
    }
    std::vector<char> buf(1 << 20);
    for (int i = 1; i < argc; ++i) {
        int fd = open(argv[i], O_RDONLY);
        if (fd < 0 || fsync(fd) != 0 || posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) != 0) {
            std::fprintf(stderr, "reload: %s: %s\n", argv[i], std::strerror(errno));
            return 1;
        }
        ssize_t got;
        while ((got = read(fd, buf.data(), buf.size())) > 0) {
        }
        if (got < 0) {
            std::fprintf(stderr, "reload: %s: %s\n", argv[i], std::strerror(errno));
            return 1;
        }
        close(fd);
    }
    return 0;
}
