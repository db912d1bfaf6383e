#include "secondthread.h"

#include <atomic>
#include <system_error>

namespace jbbtool {

namespace {

std::atomic<bool> refuseThreads{false};

}  // namespace

SecondThread::SecondThread(std::function<void(bool beside)> work) : work_(std::move(work)) {
    if (refuseThreads.load()) return;
    try {
        thread_ = std::thread([this] { work_(true); });
    } catch (const std::system_error&) {
    }
}

void SecondThread::join() {
    if (done_) return;
    done_ = true;
    if (thread_.joinable()) {
        thread_.join();
        besideDone_ = true;
        return;
    }
    work_(false);
}

void SecondThread::refuseThreadsForTesting(bool refuse) { refuseThreads.store(refuse); }

}  // namespace jbbtool
