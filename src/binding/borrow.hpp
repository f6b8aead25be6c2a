// Exclusive/shared borrowing of a native object reachable from Python, so
// that a method re-entered through Python code cannot see it half-changed.
#pragma once

#include "binding/python.hpp"

namespace halvex::binding {

class BorrowFlag {
public:
    bool try_exclusive() {
        if (state_ != 0) return false;
        state_ = exclusive;
        return true;
    }
    bool try_shared() {
        if (state_ == exclusive) return false;
        ++state_;
        return true;
    }
    void release_exclusive() { state_ = 0; }
    void release_shared() { --state_; }

private:
    static constexpr int exclusive = -1;
    int state_ = 0;  // 0 free, -1 exclusive, n > 0 shared n times
};

// Holds a borrow for its lifetime; false (with RuntimeError set) when the
// request conflicts with a borrow already held.
template <bool Exclusive>
class Borrow {
public:
    explicit Borrow(BorrowFlag& flag) : flag_(take(flag) ? &flag : nullptr) {
        if (!flag_) PyErr_SetString(PyExc_RuntimeError, Exclusive ? "Already borrowed" : "Already mutably borrowed");
    }
    ~Borrow() {
        if (!flag_) return;
        if constexpr (Exclusive) {
            flag_->release_exclusive();
        } else {
            flag_->release_shared();
        }
    }
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    explicit operator bool() const { return flag_ != nullptr; }

private:
    static bool take(BorrowFlag& flag) { return Exclusive ? flag.try_exclusive() : flag.try_shared(); }
    BorrowFlag* flag_;
};

using ExclusiveBorrow = Borrow<true>;
using SharedBorrow = Borrow<false>;

}  // namespace halvex::binding
