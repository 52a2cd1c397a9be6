// The prover's values: a superset of the integers a C object can hold, as a
// small set of values while it stays small and an interval beyond that.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include <llvm/ADT/SmallVector.h>

namespace kivinst::prove {

class Val {
public:
    static constexpr std::size_t kMaxSet = 24;

    static Val none() { return Val(); }
    static Val range(__int128 lo, __int128 hi) {
        Val v;
        if (lo > hi) return v;
        v.empty_ = false, v.lo_ = lo, v.hi_ = hi;
        if (hi - lo < static_cast<__int128>(kMaxSet))
            for (__int128 x = lo; x <= hi; ++x) v.set_.push_back(x);
        v.exact_ = !v.set_.empty();
        return v;
    }
    static Val of(__int128 x) { return range(x, x); }
    static Val boolean(bool can_false, bool can_true) {
        if (can_false && can_true) return range(0, 1);
        if (can_false) return of(0);
        return can_true ? of(1) : none();
    }

    bool empty() const { return empty_; }
    __int128 lo() const { return lo_; }
    __int128 hi() const { return hi_; }
    bool exact() const { return exact_; }  // values() lists every value
    const llvm::SmallVectorImpl<__int128>& values() const { return set_; }  // ascending
    bool may(__int128 x) const {
        return !empty_ && lo_ <= x && x <= hi_ && (!exact_ || std::binary_search(set_.begin(), set_.end(), x));
    }
    bool may_nonzero() const { return !empty_ && !(lo_ == 0 && hi_ == 0); }

    Val join(const Val& o) const {
        if (empty_) return o;
        if (o.empty_) return *this;
        Val v;
        v.empty_ = false, v.lo_ = std::min(lo_, o.lo_), v.hi_ = std::max(hi_, o.hi_);
        if (exact_ && o.exact_) {
            v.set_.reserve(set_.size() + o.set_.size());
            std::set_union(set_.begin(), set_.end(), o.set_.begin(), o.set_.end(), std::back_inserter(v.set_));
            v.exact_ = v.set_.size() <= kMaxSet;
            if (!v.exact_) v.set_.clear();
        }
        return v;
    }
    // The values that also satisfy lo <= x <= hi.
    Val clamp(__int128 lo, __int128 hi) const {
        if (empty_) return *this;
        if (!exact_) return range(std::max(lo, lo_), std::min(hi, hi_)).widened_from(*this);
        Val v;
        for (__int128 x : set_)
            if (lo <= x && x <= hi) v = v.join(of(x));
        return v;
    }
    Val without(__int128 x) const {
        if (empty_ || !may(x)) return *this;
        if (exact_) {
            Val v;
            for (__int128 y : set_)
                if (y != x) v = v.join(of(y));
            return v;
        }
        if (x == lo_) return range(lo_ + 1, hi_).widened_from(*this);
        if (x == hi_) return range(lo_, hi_ - 1).widened_from(*this);
        return *this;
    }
    bool operator==(const Val& o) const {
        return empty_ == o.empty_ && (empty_ || (lo_ == o.lo_ && hi_ == o.hi_ && exact_ == o.exact_ && set_ == o.set_));
    }
    bool operator!=(const Val& o) const { return !(*this == o); }
    bool within(__int128 lo, __int128 hi) const { return empty_ || (lo <= lo_ && hi_ <= hi); }

    std::string text() const {
        if (empty_) return "nothing";
        auto n = [](__int128 x) { return std::to_string(static_cast<long long>(x)); };
        if (exact_ && set_.size() <= 6) {
            std::string s;
            for (__int128 x : set_) s += (s.empty() ? "" : ", ") + n(x);
            return set_.size() == 1 ? s : "{" + s + "}";
        }
        return n(lo_) + " to " + n(hi_);
    }

private:
    // A narrowed interval of a large one stays an interval: listing it
    // would claim nothing more, but costs.
    Val widened_from(const Val&) const { return *this; }

    bool empty_ = true, exact_ = false;
    __int128 lo_ = 0, hi_ = -1;
    llvm::SmallVector<__int128, 4> set_;  // the values when exact, ascending; a few inline
};

}  // namespace kivinst::prove
