// physics_step, reset_all, reset_mask and rollout_bench.
#include <utility>

#include "args.hpp"
#include "arrays.hpp"
#include "numpy_api.hpp"
#include "py_ref.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
namespace {

// N * n_steps as a Python int, exact beyond 64 bits.
Ref ticks_in_all(std::size_t n, std::uint64_t n_steps) {
    Ref n_obj(PyLong_FromSize_t(n));
    Ref steps_obj(PyLong_FromUnsignedLongLong(n_steps));
    if (!n_obj || !steps_obj) return Ref();
    return Ref(PyNumber_Multiply(n_obj.get(), steps_obj.get()));
}

// The interpreter lock of a call that gave it up for its work. An
// exception that leaves the call with the lock still given up (saved is
// set) takes it back here and drops the call's result.
struct LockRecovery {
    PyThreadState*& saved;
    PyObject* result;
    ~LockRecovery() {
        if (saved == nullptr) return;
        PyEval_RestoreThread(saved);
        Py_DECREF(result);
    }
};

bool finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing();
#else
    return _Py_IsFinalizing();
#endif
}

}  // namespace

const char* const STEP_PARAMS[] = {"actions"};
const Signature STEP_SIGNATURE{"physics_step", STEP_PARAMS, 1, 1};
const char* const MASK_PARAMS[] = {"mask"};
const Signature MASK_SIGNATURE{"reset_mask", MASK_PARAMS, 1, 1};
const char* const BENCH_PARAMS[] = {"n_steps"};
const Signature BENCH_SIGNATURE{"rollout_bench", BENCH_PARAMS, 1, 1};

PyObject* vecenv_physics_step(Batch& b, PyObject* const* args) {
    ArrayArg actions;
    if (!to_array(args[0], "actions", NPY_INT64, 3, actions)) return nullptr;
    const npy_intp dims[1] = {static_cast<npy_intp>(b.n_envs())};
    std::int8_t* out = nullptr;
    Ref scored = new_array(1, dims, NPY_INT8, out);
    if (!scored) return nullptr;
    if (BatchStatus refused = b.step(actions.view<std::int64_t, 3>(), out)) return raise(*refused);
    return scored.release();
}

PyObject* vecenv_reset_all(Batch& b, PyObject* const*) {
    b.reset_all();
    Py_RETURN_NONE;
}

PyObject* vecenv_reset_mask(Batch& b, PyObject* const* args) {
    ArrayArg mask;
    if (!to_array(args[0], "mask", NPY_BOOL, 1, mask)) return nullptr;
    static_assert(sizeof(npy_bool) == sizeof(std::uint8_t));
    if (BatchStatus refused = b.reset_mask(mask.view<std::uint8_t, 1>())) return raise(*refused);
    Py_RETURN_NONE;
}

PyObject* vecenv_rollout_bench(Batch& b, PyObject* const* args) {
    std::uint64_t n_steps = 0;
    if (!to_u64(args[0], "n_steps", n_steps)) return nullptr;
    // The result is made up front, exactly (N * n_steps may pass 64 bits), so
    // that nothing can fail once the ticks have run.
    Ref total = ticks_in_all(b.n_envs(), n_steps);
    if (!total) return nullptr;
    if (n_steps == 0) return total.release();
    // Held as a plain pointer while the lock is away: if the interpreter ends
    // this thread there, the unwind must not drop references without the
    // lock. The result is then simply not freed.
    PyObject* result = total.release();
    // The thread state is forgotten before the lock is asked for: if the
    // interpreter ends this thread there (at exit, a daemon thread), the
    // unwind must find nothing left to give back.
    PyThreadState* saved = PyEval_SaveThread();
    LockRecovery recovery{saved, result};
    // Once the interpreter is finalizing, asking for the lock would end this
    // thread inside the batch's loop; the call stops there instead, and the
    // thread ends below, where it takes the lock back.
    auto interrupted = [&saved] {
        if (finalizing()) return true;
        PyEval_RestoreThread(std::exchange(saved, nullptr));
        const bool signalled = PyErr_CheckSignals() < 0;
        saved = PyEval_SaveThread();
        return signalled;
    };
    const bool finished = b.rollout(n_steps, interrupted);
    PyThreadState* state = saved;
    saved = nullptr;
    PyEval_RestoreThread(state);
    if (!finished) {
        Py_DECREF(result);
        return nullptr;
    }
    return result;
}

}  // namespace vexlo::py
