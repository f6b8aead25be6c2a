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

// Holds an exclusive borrow for its lifetime; false (with RuntimeError set)
// when the object is borrowed already.
class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(BorrowFlag& flag) : flag_(flag.try_exclusive() ? &flag : nullptr) {
        if (!flag_) PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    }
    ~ExclusiveBorrow() {
        if (flag_) flag_->release_exclusive();
    }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    explicit operator bool() const { return flag_ != nullptr; }

private:
    BorrowFlag* flag_;
};

class SharedBorrow {
public:
    explicit SharedBorrow(BorrowFlag& flag) : flag_(flag.try_shared() ? &flag : nullptr) {
        if (!flag_) PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    }
    ~SharedBorrow() {
        if (flag_) flag_->release_shared();
    }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    explicit operator bool() const { return flag_ != nullptr; }

private:
    BorrowFlag* flag_;
};

}  // namespace halvex::binding
