// Work on a second processor, for the passes that read on one thread and
// count, parse or map on another.  Where the system refuses a thread, the
// work runs on the caller's thread instead, when the caller joins it, so
// that every command gives the same result with one processor or two.
//
// Contract:
// - The work is told whether it runs beside the caller (true) or on the
//   caller's thread at join() (false); work that hands results to the
//   caller through a bounded queue must not fill that queue when it runs
//   at join(), since nobody takes from it then.
// - What the work touches must outlive join(); the destructor joins.
// - One thread owns a SecondThread: beside() and join() are called from
//   the thread that made it.
#pragma once

#include <functional>
#include <thread>

namespace jbbtool {

class SecondThread {
public:
    explicit SecondThread(std::function<void(bool beside)> work);
    ~SecondThread() { join(); }
    SecondThread(const SecondThread&) = delete;
    SecondThread& operator=(const SecondThread&) = delete;

    // The work runs on a thread of its own.
    bool beside() const { return thread_.joinable() || besideDone_; }
    // Waits for the work to end, or runs it here if no thread took it.
    void join();

    // For tests: while set, no thread is started, as on a system that
    // refuses one.  Set it only while no SecondThread is being made.
    static void refuseThreadsForTesting(bool refuse);

private:
    std::function<void(bool)> work_;
    std::thread thread_;
    bool besideDone_ = false;
    bool done_ = false;
};

}  // namespace jbbtool
