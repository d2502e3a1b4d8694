#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

namespace vexlo::py {

// Shared-or-exclusive access to one object for the length of a call. A
// conflicting request fails at once instead of waiting. The counter is atomic
// because a call that released the interpreter lock keeps its access while
// other threads may test it.
class BorrowFlag {
public:
    bool try_shared() noexcept {
        std::int64_t cur = state_.load(std::memory_order_relaxed);
        while (cur >= 0) {
            if (state_.compare_exchange_weak(cur, cur + 1, std::memory_order_acquire,
                                             std::memory_order_relaxed))
                return true;
        }
        return false;
    }
    void release_shared() noexcept { state_.fetch_sub(1, std::memory_order_release); }

    bool try_exclusive() noexcept {
        std::int64_t expected = 0;
        return state_.compare_exchange_strong(expected, EXCLUSIVE, std::memory_order_acquire,
                                              std::memory_order_relaxed);
    }
    void release_exclusive() noexcept { state_.store(0, std::memory_order_release); }

private:
    static constexpr std::int64_t EXCLUSIVE = -1;
    std::atomic<std::int64_t> state_{0};
};

// Holds shared access while alive; if it could not be taken, the Python error
// is set and the guard tests false.
class SharedBorrow {
public:
    explicit SharedBorrow(BorrowFlag& flag) noexcept : flag_(flag), held_(flag.try_shared()) {
        if (!held_) PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    }
    ~SharedBorrow() {
        if (held_) flag_.release_shared();
    }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    explicit operator bool() const noexcept { return held_; }

private:
    BorrowFlag& flag_;
    bool held_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(BorrowFlag& flag) noexcept
        : flag_(flag), held_(flag.try_exclusive()) {
        if (!held_) PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    }
    ~ExclusiveBorrow() {
        if (held_) flag_.release_exclusive();
    }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    explicit operator bool() const noexcept { return held_; }

private:
    BorrowFlag& flag_;
    bool held_;
};

}  // namespace vexlo::py
