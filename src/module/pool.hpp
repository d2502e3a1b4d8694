#pragma once

#include <cstddef>
#include <type_traits>

// The process-wide worker pool that runs per-environment work in parallel.
// It knows nothing of Python: callers hand it a range and a function.
namespace vexlo::pool {

// Called with a half-open range [begin, end) of item indices and the number
// of the participant running it, below participants(): a task can use that
// participant's share of memory its caller set aside. It runs on worker
// threads, so it can report no failure: it must neither throw nor allocate.
using RangeFn = void (*)(void* context, std::size_t participant, std::size_t begin,
                         std::size_t end) noexcept;

// Runs fn over [0, n), cut into small chunks that the calling thread and the
// pool's workers take in turn from a shared counter, and returns when every
// item is done. The pool is created on first use with one participant per
// processor available to the process (the calling thread is one of them).
// While another caller is using the pool, the range runs on the calling
// thread alone (as participant 0); since items are independent, results do
// not depend on it. It throws (std::bad_alloc, std::system_error) only when
// it creates the pool, on first use; after participants() has returned it
// cannot fail.
void parallel_for(std::size_t n, RangeFn fn, void* context);

// `body(begin, end)` or `body(participant, begin, end)`; noexcept either way.
template <class F>
void parallel_for(std::size_t n, F& body) {
    static_assert(std::is_nothrow_invocable_v<F&, std::size_t, std::size_t> ||
                      std::is_nothrow_invocable_v<F&, std::size_t, std::size_t, std::size_t>,
                  "a pool task must be noexcept");
    parallel_for(
        n,
        [](void* context, std::size_t participant, std::size_t begin, std::size_t end) noexcept {
            F& f = *static_cast<F*>(context);
            if constexpr (std::is_invocable_v<F&, std::size_t, std::size_t, std::size_t>)
                f(participant, begin, end);
            else
                f(begin, end);
        },
        &body);
}

// How many groups of `width` items cover n items (the last may be partial).
inline std::size_t group_count(std::size_t n, std::size_t width) { return (n + width - 1) / width; }

// Threads taking part in a call: the workers plus the caller.
std::size_t participants();

}  // namespace vexlo::pool
