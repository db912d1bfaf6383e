// Running a program as a child process whose standard output is read
// through a pipe while it runs, and interrupting it as an operator's
// Ctrl-C would.  Used by the end-to-end tests.
#pragma once

#include <string>
#include <vector>

namespace plat {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Whether this platform can run and interrupt a child this way.
    static bool supported();

    // Starts `program` with `args`; standard input comes from `stdinPath`,
    // standard error goes to `stderrPath`, standard output to a pipe.
    bool start(const std::string& program, const std::vector<std::string>& args, const std::string& stdinPath,
               const std::string& stderrPath);
    // Appends what the child has written, waiting at most timeoutMs for
    // something new.  False once the output has ended.
    bool read(std::string& out, int timeoutMs);
    // Sends the interrupt (SIGINT).
    bool interrupt();
    // Waits for the end; the exit status sign-extended from 8 bits, or
    // INT32_MIN when the child was killed by a signal.
    int wait();

private:
    long pid_ = -1;
    int outFd_ = -1;
};

}  // namespace plat
