#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "child_process.h"

namespace plat {

bool ChildProcess::supported() { return true; }

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill((pid_t)pid_, SIGKILL);
        wait();
    }
    if (outFd_ >= 0) close(outFd_);
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args, const std::string& stdinPath,
                         const std::string& stderrPath) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        int in = open(stdinPath.c_str(), O_RDONLY);
        int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || err < 0) _exit(127);
        dup2(in, 0);
        dup2(fds[1], 1);
        dup2(err, 2);
        close(fds[0]);
        close(fds[1]);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    pid_ = pid;
    outFd_ = fds[0];
    return true;
}

bool ChildProcess::read(std::string& out, int timeoutMs) {
    if (outFd_ < 0) return false;
    pollfd p{outFd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return true;
    char buf[4096];
    ssize_t n = ::read(outFd_, buf, sizeof buf);
    if (n <= 0) {
        close(outFd_);
        outFd_ = -1;
        return false;
    }
    out.append(buf, (size_t)n);
    return true;
}

bool ChildProcess::interrupt() { return pid_ > 0 && kill((pid_t)pid_, SIGINT) == 0; }

int ChildProcess::wait() {
    if (pid_ <= 0) return INT32_MIN;
    int status = 0;
    pid_t r;
    do {
        r = waitpid((pid_t)pid_, &status, 0);
    } while (r < 0 && errno == EINTR);
    pid_ = -1;
    if (r < 0 || !WIFEXITED(status)) return INT32_MIN;
    return (int)(int8_t)WEXITSTATUS(status);
}

}  // namespace plat
