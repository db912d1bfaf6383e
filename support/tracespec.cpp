// Expansion of trace class specifications (see tracespec.h).
//
// Aggregates expand to their member lists, which may name classes, other
// aggregates, ALL and "-NAME" exclusions.  An aggregate that is being
// expanded is not expanded again inside itself, so a list that names its
// own aggregate, directly or through others, cannot recurse without end.
// A member that names nothing (the tables hold one) is skipped; only the
// caller's own words must all name something.

#include "tracespec.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "traceclasses.h"

namespace {

using Flags = std::vector<uint8_t>;

int findClass(const std::string& w) {
    for (int i = 0; traceClassTable[i].name != nullptr; ++i)
        if (w == traceClassTable[i].name) return i;
    return -1;
}

int findAggregate(const std::string& w) {
    for (int i = 0; traceAggregateTable[i].name != nullptr; ++i)
        if (w == traceAggregateTable[i].name) return i;
    return -1;
}

std::vector<std::string> splitWords(const char* text) {
    std::vector<std::string> words;
    std::string w;
    for (const char* p = text;; ++p) {
        const char c = *p;
        if (c == '\0' || c == ' ' || c == ',' || c == '\t') {
            if (!w.empty()) words.push_back(w);
            w.clear();
            if (c == '\0') break;
        } else {
            w += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return words;
}

class Expander {
public:
    explicit Expander(Flags* flags) : flags_(flags) {}

    // Applies one word; false when it names nothing.
    bool apply(const std::string& word) {
        const bool off = word.size() > 1 && word[0] == '-';
        const std::string name = off ? word.substr(1) : word;
        if (name == "ALL") {
            for (uint8_t& f : *flags_) f = off ? 0 : 1;
            return true;
        }
        const int c = findClass(name);
        if (c >= 0) {
            (*flags_)[c] = off ? 0 : 1;
            return true;
        }
        const int a = findAggregate(name);
        if (a < 0) return false;
        if (std::find(active_.begin(), active_.end(), a) != active_.end()) return true;
        if (!off) {
            expand(a, flags_);
            return true;
        }
        // Off: every class the aggregate would switch on by itself.
        Flags on(flags_->size(), 0);
        expand(a, &on);
        for (size_t i = 0; i < on.size(); ++i)
            if (on[i]) (*flags_)[i] = 0;
        return true;
    }

private:
    void expand(int a, Flags* target) {
        active_.push_back(a);
        Flags* saved = flags_;
        flags_ = target;
        for (const std::string& m : splitWords(traceAggregateTable[a].members)) apply(m);
        flags_ = saved;
        active_.pop_back();
    }

    Flags* flags_;
    std::vector<int> active_;
};

}  // namespace

int traceApplyClassSpec(const char* spec, std::string* badWord) {
    Flags flags(traceClassCount);
    for (int i = 0; i < traceClassCount; ++i) flags[i] = *traceClassTable[i].flag;
    Expander ex(&flags);
    for (const std::string& w : splitWords(spec != nullptr ? spec : "")) {
        if (!ex.apply(w)) {
            *badWord = w;
            return -1;
        }
    }
    for (int i = 0; i < traceClassCount; ++i) *traceClassTable[i].flag = flags[i];
    return 0;
}
