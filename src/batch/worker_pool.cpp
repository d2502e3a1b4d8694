#include "batch/worker_pool.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "vexlo/batch.hpp"

namespace vexlo {
namespace {

// Chunks per participant: small enough that a worker that finishes early
// takes over items the others have not started.
constexpr std::size_t CHUNKS_PER_PARTICIPANT = 8;

// How long a thread that is out of work stays awake, watching for more,
// before it sleeps: an idle process uses no CPU after this.
constexpr std::chrono::microseconds SPIN_TIME{100};

std::size_t available_processors() {
    // The affinity mask, not the machine's count: a process limited to some
    // cores (taskset, containers, os.sched_setaffinity) gets that many.
    for (int n_cpus = 1024; n_cpus <= (1 << 16); n_cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(n_cpus);
        if (set == nullptr) break;
        const std::size_t size = CPU_ALLOC_SIZE(n_cpus);
        CPU_ZERO_S(size, set);
        const int rc = sched_getaffinity(0, size, set);
        const int count = rc == 0 ? CPU_COUNT_S(size, set) : 0;
        CPU_FREE(set);
        if (rc == 0) return std::max(count, 1);
        if (errno != EINVAL) break;
    }
    return std::max(std::thread::hardware_concurrency(), 1u);
}

// Every participant owns a share of the range (the same share at every call
// of the same size) and works through it first, then helps with the others'.
// Calls on one batch thus find most of their environments in the cache of the
// core that touched them last, instead of in another core's.
struct alignas(64) Share {
    std::atomic<std::size_t> next{0};
    std::size_t end = 0;
};

struct Job {
    RangeFn fn;
    void* context;
    std::size_t chunk;
    Share* shares;
    std::size_t n_shares;

    void work(std::size_t home) noexcept {
        for (std::size_t k = 0; k < n_shares; ++k) {
            Share& share = shares[(home + k) % n_shares];
            for (;;) {
                const std::size_t begin = share.next.fetch_add(chunk, std::memory_order_relaxed);
                if (begin >= share.end) break;
                fn(context, home, begin, std::min(share.end, begin + chunk));
            }
        }
    }
};

class Pool final : public WorkerPool {
public:
    explicit Pool(std::size_t participants) {
        shares_ = std::make_unique<Share[]>(participants);
        threads_.reserve(participants - 1);
        for (std::size_t i = 1; i < participants; ++i) {
            try {
                threads_.emplace_back([this, i] { worker_main(i); });
            } catch (const std::exception&) {  // std::system_error, std::bad_alloc
                break;  // fewer workers than processors; the work still gets done
            }
        }
    }

    // Never destroyed: a caller may still hold it after it was replaced, so
    // it stays, and its workers sleep until the process ends or it retires.
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    std::size_t participants() const override { return threads_.size() + 1; }

    // Lets the workers end once they are out of work. A caller still holding
    // the pool gets its items done all the same: run() hands out every chunk
    // to whoever takes part, the calling thread included.
    void retire(Pool* retired_before) {
        next_retired_ = retired_before;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            retired_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.detach();
    }

    // noexcept: a mutex that cannot be locked here is a broken program, and
    // callers rely on this not failing once the pool exists.
    void run(std::size_t n, RangeFn fn, void* context) noexcept override {
        if (n < 2) {  // nothing to share: the calling thread alone, without the lock
            fn(context, 0, 0, n);
            return;
        }
        std::unique_lock<std::mutex> busy(run_mutex_, std::try_to_lock);
        if (threads_.empty() || !busy.owns_lock()) {
            fn(context, 0, 0, n);
            return;
        }
        const std::size_t parts = participants();
        for (std::size_t k = 0; k < parts; ++k) {
            shares_[k].next.store(n * k / parts, std::memory_order_relaxed);
            shares_[k].end = n * (k + 1) / parts;
        }
        Job job{fn, context, std::max<std::size_t>(1, n / (parts * CHUNKS_PER_PARTICIPANT)),
                shares_.get(), parts};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = &job;
            generation_.fetch_add(1, std::memory_order_release);
        }
        wake_.notify_all();
        job.work(0);
        // Every chunk is taken; the workers still running theirs finish soon,
        // so wait for them awake first.
        spin_until([this] { return active_.load(std::memory_order_acquire) == 0; });
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return active_.load(std::memory_order_relaxed) == 0; });
        job_ = nullptr;
    }

private:
    // Spins for up to SPIN_TIME while `ready` is false; true once it holds.
    // Calls come in quick succession (a step, then a query of its result),
    // and waking a sleeping thread costs more than such a call's share of work.
    template <class Ready>
    static bool spin_until(Ready ready) {
        const auto until = std::chrono::steady_clock::now() + SPIN_TIME;
        for (;;) {
            for (int i = 0; i < 64; ++i) {
                if (ready()) return true;
                pause();
            }
            if (std::chrono::steady_clock::now() >= until) return ready();
        }
    }

    static void pause() {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }

    void worker_main(std::size_t home) {
        std::uint64_t seen = generation_.load(std::memory_order_acquire);
        for (;;) {
            spin_until([&] { return generation_.load(std::memory_order_acquire) != seen; });
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] {
                return retired_ || generation_.load(std::memory_order_relaxed) != seen;
            });
            if (retired_) return;
            seen = generation_.load(std::memory_order_relaxed);
            Job* job = job_;
            if (job == nullptr) continue;  // woke after that call had finished
            active_.fetch_add(1, std::memory_order_relaxed);
            lock.unlock();
            job->work(home);
            lock.lock();
            if (active_.fetch_sub(1, std::memory_order_release) == 1) done_.notify_all();
        }
    }

    std::mutex run_mutex_;  // one call at a time uses the workers
    std::mutex mutex_;  // guards job_ and every change of generation_ and active_
    std::condition_variable wake_;
    std::condition_variable done_;
    Job* job_ = nullptr;
    bool retired_ = false;
    Pool* next_retired_ = nullptr;  // keeps every retired pool reachable, as a list
    // Atomic as well, so that a spinning thread can watch them without the lock.
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<std::size_t> active_{0};
    std::vector<std::thread> threads_;
    std::unique_ptr<Share[]> shares_;  // one per participant, reused by every call
};

std::atomic<Pool*> g_pool{nullptr};
std::mutex g_create_mutex;
std::size_t g_requested = 0;  // guarded by g_create_mutex; 0: one per processor
Pool* g_retired = nullptr;     // guarded by g_create_mutex

// A forked child has only the thread that called fork: the parent's workers
// do not exist there and its mutexes may be held by threads that are gone.
// The child forgets that pool without touching it (its memory is leaked on
// purpose) and builds a fresh one on first use. Holding the creation mutex
// across fork keeps a half-created pool out of the child.
void before_fork() { g_create_mutex.lock(); }
void after_fork_parent() { g_create_mutex.unlock(); }
void after_fork_child() {
    g_pool.store(nullptr, std::memory_order_relaxed);
    g_create_mutex.unlock();
}

Pool& instance() {
    Pool* pool = g_pool.load(std::memory_order_acquire);
    if (pool != nullptr) return *pool;
    std::lock_guard<std::mutex> lock(g_create_mutex);
    pool = g_pool.load(std::memory_order_relaxed);
    if (pool == nullptr) {
        static const bool fork_handlers =
            pthread_atfork(before_fork, after_fork_parent, after_fork_child) == 0;
        (void)fork_handlers;
        pool = new Pool(g_requested != 0 ? g_requested : available_processors());
        g_pool.store(pool, std::memory_order_release);
    }
    return *pool;
}

}  // namespace

WorkerPool& shared_pool() { return instance(); }

void set_worker_count(std::size_t n) {
    std::lock_guard<std::mutex> lock(g_create_mutex);
    g_requested = std::min(n, MAX_WORKERS);
    Pool* old = g_pool.load(std::memory_order_relaxed);
    const std::size_t wanted = g_requested != 0 ? g_requested : available_processors();
    if (old == nullptr || old->participants() == wanted) return;
    // The next call makes the new pool; the old one is left to its callers.
    g_pool.store(nullptr, std::memory_order_release);
    old->retire(g_retired);
    g_retired = old;
}

std::size_t worker_count() { return instance().participants(); }

}  // namespace vexlo
