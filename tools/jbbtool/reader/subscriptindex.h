// The subscript index of jbbtool's reader: where among the slots or nodes
// a pass met (in file order) the one naming a subscript lies, for every
// reader that follows branches (the slot map of dump and diff, the node
// lists of check and stats).  Of two naming one subscript, the first in
// the file wins.  Subscripts of a sound file run from 1 to about the number
// of slots: a direct table then costs little and needs no sorting; other
// files get a sorted list.
//
// Contract:
// - An index holds places (0 .. n - 1), not the items: whoever built it
//   keeps the items, and builds again when they change.
// - Built by one thread; find() only reads, from any number of threads.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "largevector.h"

namespace jbbtool {

class SubscriptIndex {
public:
    static constexpr size_t kNone = ~size_t{0};

    // Indexes n items whose subscripts subscriptOf(i) gives, in file order.
    template <class SubscriptOf>
    void build(size_t n, SubscriptOf subscriptOf) {
        direct_.clear();
        sorted_.clear();
        if (dense(n, subscriptOf, &maxSub_)) {
            direct_.assign((size_t)maxSub_ + 1, 0);
            for (size_t i = 0; i < n; ++i) {
                uint32_t& d = direct_[subscriptOf(i)];
                if (d == 0) d = (uint32_t)i + 1;
            }
            return;
        }
        sorted_.reserve(n);
        for (size_t i = 0; i < n; ++i) sorted_.emplace_back(subscriptOf(i), (uint32_t)i);
        std::sort(sorted_.begin(), sorted_.end());
    }

    // The place of the first item naming `subscript`, or kNone.
    size_t find(uint32_t subscript) const {
        if (!direct_.empty())
            return subscript < direct_.size() && direct_[subscript] != 0 ? direct_[subscript] - 1 : kNone;
        auto it = std::lower_bound(sorted_.begin(), sorted_.end(), std::make_pair(subscript, 0u));
        return it != sorted_.end() && it->first == subscript ? it->second : kNone;
    }

    // Calls repeat(i, before) for every item i whose subscript an item
    // `before` ahead of it named too (the nearest such one): in file order
    // where subscripts are dense, else by subscript.
    template <class SubscriptOf, class Repeat>
    static void forEachRepeat(size_t n, SubscriptOf subscriptOf, Repeat repeat) {
        uint32_t maxSub = 0;
        if (dense(n, subscriptOf, &maxSub)) {
            LargeVector<uint32_t> last((size_t)maxSub + 1, 0);  // place + 1
            for (size_t i = 0; i < n; ++i) {
                uint32_t& l = last[subscriptOf(i)];
                if (l != 0) repeat(i, (size_t)l - 1);
                l = (uint32_t)i + 1;
            }
            return;
        }
        LargeVector<std::pair<uint32_t, uint32_t>> sorted;
        sorted.reserve(n);
        for (size_t i = 0; i < n; ++i) sorted.emplace_back(subscriptOf(i), (uint32_t)i);
        std::sort(sorted.begin(), sorted.end());
        for (size_t i = 1; i < sorted.size(); ++i)
            if (sorted[i].first == sorted[i - 1].first) repeat(sorted[i].second, sorted[i - 1].second);
    }

private:
    template <class SubscriptOf>
    static bool dense(size_t n, SubscriptOf subscriptOf, uint32_t* maxSub) {
        uint32_t m = 0;
        for (size_t i = 0; i < n; ++i) m = std::max(m, subscriptOf(i));
        *maxSub = m;
        return n > 0 && m <= 4 * n + 1024;
    }
    uint32_t maxSub_ = 0;
    std::vector<uint32_t> direct_;                       // subscript -> place + 1
    LargeVector<std::pair<uint32_t, uint32_t>> sorted_;  // subscript, place
};

}  // namespace jbbtool
