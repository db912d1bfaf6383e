// Runs commands side by side and reports each one's median wall time and
// peak resident memory:
//   runcmd RUNS NAME1 'CMD1' NAME2 'CMD2' ...
// The commands run in turn, RUNS rounds, standard output to /dev/null;
// each command line goes through /bin/sh.  Prints one line per command:
//   NAME median_ms min_ms max_rss_kb
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 4 || (argc - 2) % 2 != 0) {
        std::fprintf(stderr, "usage: runcmd RUNS NAME CMD [NAME CMD ...]\n");
        return 2;
    }
    int runs = std::atoi(argv[1]);
    size_t n = (size_t)(argc - 2) / 2;
    std::vector<std::vector<double>> times(n);
    std::vector<long> rss(n, 0);
    for (int r = 0; r < runs; ++r) {
        for (size_t i = 0; i < n; ++i) {
            const char* cmd = argv[3 + 2 * i];
            auto start = std::chrono::steady_clock::now();
            pid_t pid = fork();
            if (pid == 0) {
                int devnull = open("/dev/null", O_WRONLY);
                dup2(devnull, 1);
                execl("/bin/sh", "sh", "-c", cmd, (char*)nullptr);
                _exit(127);
            }
            int status = 0;
            rusage ru{};
            wait4(pid, &status, 0, &ru);
            double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                std::fprintf(stderr, "runcmd: '%s' failed (status %d)\n", cmd, status);
                return 1;
            }
            times[i].push_back(ms);
            rss[i] = std::max(rss[i], ru.ru_maxrss);
        }
    }
    for (size_t i = 0; i < n; ++i) {
        std::vector<double> t = times[i];
        std::sort(t.begin(), t.end());
        std::printf("%s %.2f %.2f %ld\n", argv[2 + 2 * i], t[t.size() / 2], t.front(), rss[i]);
    }
    return 0;
}
