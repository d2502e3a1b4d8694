#pragma once

#include <cstddef>

// The process-wide worker pool that runs per-environment work in parallel.
// It knows nothing of Python: callers hand it a range and a function.
namespace vexlo::pool {

// Called with a half-open range [begin, end) of item indices. It must not
// throw: it runs on worker threads.
using RangeFn = void (*)(void* context, std::size_t begin, std::size_t end) noexcept;

// Runs fn over [0, n), cut into small chunks that the calling thread and the
// pool's workers take in turn from a shared counter, and returns when every
// item is done. The pool is created on first use with one participant per
// processor available to the process (the calling thread is one of them).
// While another caller is using the pool, the range runs on the calling
// thread alone; since items are independent, results do not depend on it.
void parallel_for(std::size_t n, RangeFn fn, void* context);

template <class F>
void parallel_for(std::size_t n, F& body) {
    parallel_for(
        n,
        [](void* context, std::size_t begin, std::size_t end) noexcept {
            (*static_cast<F*>(context))(begin, end);
        },
        &body);
}

// How many groups of `width` items cover n items (the last may be partial).
inline std::size_t group_count(std::size_t n, std::size_t width) { return (n + width - 1) / width; }

// Threads taking part in a call: the workers plus the caller.
std::size_t participants();

}  // namespace vexlo::pool
