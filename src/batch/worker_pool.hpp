#pragma once

#include <cstddef>
#include <type_traits>

// The threads that run per-environment work in parallel. They know nothing
// of batches: callers hand them a range and a function.
namespace vexlo {

// Called with a half-open range [begin, end) of item indices and the number
// of the participant running it, below participants(): a task can use that
// participant's share of memory its caller set aside. It runs on worker
// threads, so it can report no failure: it must neither throw nor allocate.
using RangeFn = void (*)(void* context, std::size_t participant, std::size_t begin,
                         std::size_t end) noexcept;

class WorkerPool {
public:
    // Threads taking part in a call: the workers plus the caller. Fixed for
    // the pool's life.
    virtual std::size_t participants() const = 0;

    // Runs fn over [0, n), cut into small chunks that the calling thread and
    // the workers take in turn from a shared counter, and returns when every
    // item is done. While another caller is using the pool, the range runs
    // on the calling thread alone (as participant 0); since items are
    // independent, results do not depend on it. Cannot fail.
    virtual void run(std::size_t n, RangeFn fn, void* context) noexcept = 0;

    // `body(begin, end)` or `body(participant, begin, end)`; noexcept either way.
    template <class F>
    void parallel_for(std::size_t n, F& body) noexcept {
        static_assert(std::is_nothrow_invocable_v<F&, std::size_t, std::size_t> ||
                          std::is_nothrow_invocable_v<F&, std::size_t, std::size_t, std::size_t>,
                      "a pool task must be noexcept");
        if (n == 0) return;
        run(
            n,
            [](void* context, std::size_t participant, std::size_t begin,
               std::size_t end) noexcept {
                F& f = *static_cast<F*>(context);
                if constexpr (std::is_invocable_v<F&, std::size_t, std::size_t, std::size_t>)
                    f(participant, begin, end);
                else
                    f(begin, end);
            },
            &body);
    }

protected:
    ~WorkerPool() = default;
};

// The pool every batch shares, so that several batches do not start more
// threads than there are processors. Made on first use, with the count of
// set_worker_count (vexlo/batch.hpp); a call takes it once and uses that
// pool throughout, even if the count changes meanwhile. Throws
// (std::bad_alloc, std::system_error) only when it makes the pool.
WorkerPool& shared_pool();

// How many groups of `width` items cover n items (the last may be partial).
inline std::size_t group_count(std::size_t n, std::size_t width) { return (n + width - 1) / width; }

}  // namespace vexlo
