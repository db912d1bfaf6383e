// Hands entries from a reading thread to the writing one: `jbbtool dump`
// reads nodes (system calls, parsing) on one processor while it formats
// and writes text on another.  Entries are copied into batches of about
// 256 KiB, at most four of them in flight, and arrive in the order given.
#pragma once

#include <cstdint>
#include <functional>

#include "dbimage.h"

namespace jbbtool {

// Takes entries on the reading side.
class EntrySink {
public:
    virtual ~EntrySink() = default;
    // Copies the entry's key and its `dataLen`-byte record.
    virtual void put(const WalkEntry& e) = 0;
};

// Runs `produce` on a second thread and `consume` on this one for each
// entry it puts, in order.  `produce` returns when it has put every entry;
// its result is returned once every entry has been consumed.  Where no
// thread can be started, both run here, one entry after the other.
int pipeEntries(uint16_t dataLen, const std::function<int(EntrySink&)>& produce,
                const std::function<void(const WalkEntry&)>& consume);

}  // namespace jbbtool
