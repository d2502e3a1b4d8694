// set_num_threads and get_num_threads: the size of the worker pool that
// every VecEnv of the process shares; and the private _force_lane_width,
// with which benchmarks and tests compare the lane widths in one process.
#include <string>

#include "args.hpp"
#include "guard.hpp"
#include "lanes/instruction_sets.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
namespace {

const char* const SET_PARAMS[] = {"n"};
const Signature SET_SIGNATURE{"set_num_threads", SET_PARAMS, 1, 1};

PyObject* set_num_threads(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* objs[1];
    if (!bind(SET_SIGNATURE, args, nargs, kwnames, objs)) return nullptr;
    std::int64_t n = 0;
    if (objs[0] != Py_None && !to_i64(objs[0], "n", n)) return nullptr;
    if (n < 0 || static_cast<std::uint64_t>(n) > MAX_WORKERS) {
        const std::string message = "set_num_threads: n must be between 0 and " +
                                    std::to_string(MAX_WORKERS) + ", got " + std::to_string(n);
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return nullptr;
    }
    set_worker_count(static_cast<std::size_t>(n));
    Py_RETURN_NONE;
}

PyObject* get_num_threads(PyObject*) { return PyLong_FromSize_t(worker_count()); }

const char* const FORCE_PARAMS[] = {"width"};
const Signature FORCE_SIGNATURE{"_force_lane_width", FORCE_PARAMS, 1, 1};

PyObject* force_lane_width(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* objs[1];
    if (!bind(FORCE_SIGNATURE, args, nargs, kwnames, objs)) return nullptr;
    std::uint64_t width = 0;
    if (!to_u64(objs[0], "width", width)) return nullptr;
    if (!vexlo::force_lane_width(static_cast<std::size_t>(width))) {
        const std::string message = "_force_lane_width: this processor cannot run width " +
                                    std::to_string(width) + " (0, 1, 4 with AVX2, 8 with AVX-512)";
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return nullptr;
    }
    return PyLong_FromSize_t(lane_width());
}

}  // namespace

PyMethodDef THREAD_FUNCTIONS[] = {
    {"set_num_threads", as_cfunction(fastcall<set_num_threads>), METH_FASTCALL | METH_KEYWORDS,
     "set_num_threads(n)\n--\n\n"
     "Use `n` threads (the calling one included) for the work of every VecEnv from the\n"
     "next call on; 0 or None: one per processor this process may run on (the default).\n"
     "All VecEnvs share them; results are the same whatever the count."},
    {"get_num_threads", as_cfunction(noargs<get_num_threads>), METH_NOARGS,
     "get_num_threads()\n--\n\n"
     "The number of threads that VecEnv calls use now (the calling one included)."},
    {"_force_lane_width", as_cfunction(fastcall<force_lane_width>), METH_FASTCALL | METH_KEYWORDS,
     "_force_lane_width(width)\n--\n\n"
     "For benchmarks and tests only: step and predict `width` environments per\n"
     "instruction from the next call on (1: the scalar tick; 4: AVX2; 8: AVX-512;\n"
     "0: the widest this processor has, the default). Returns the width now in use;\n"
     "ValueError for a width this processor cannot run. Results are the same at\n"
     "every width."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace vexlo::py
