#pragma once

#include <Python.h>

#include <cxxabi.h>

#include <exception>
#include <new>
#include <stdexcept>

namespace vexlo::py {

// Runs the body of an entry point and turns any C++ exception into the
// matching Python one, so that none crosses into the interpreter.
//
// The one exception is the unwind that ends a thread: the interpreter stops a
// daemon thread that wants the interpreter lock back during finalization by
// unwinding its stack. That must go on past this frame (swallowing it aborts
// the process), without a thread state, so nothing here may touch the
// interpreter then, and neither this function nor its callers may be noexcept.
// That unwind carries no object, so the sanitizer's check of a reference
// bound to it would report the catch clause below.
template <class F>
__attribute__((no_sanitize("null"))) PyObject* guarded(F&& body) {
    try {
        return body();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::length_error&) {
        return PyErr_NoMemory();  // a container asked for more than it can hold
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
        return nullptr;
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception in vexlo_core");
        return nullptr;
    }
}

// Adapters from the interpreter's calling conventions to guarded bodies.
template <PyObject* (*F)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) {
    return guarded([&] { return F(self, args, nargs, kwnames); });
}

template <PyObject* (*F)(PyObject*)>
PyObject* noargs(PyObject* self, PyObject*) {
    return guarded([&] { return F(self); });
}

// For a PyMethodDef's ml_meth field.
template <class Fn>
PyCFunction as_cfunction(Fn fn) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(fn));
}

}  // namespace vexlo::py
