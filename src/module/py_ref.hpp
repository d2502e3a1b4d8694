#pragma once

#include <Python.h>

#include <utility>

namespace vexlo::py {

// Owns one strong reference. Moving hands the reference over; destruction
// drops it. Every path that creates a Python object goes through one of these,
// so an early return can neither leak nor release twice.
class Ref {
public:
    Ref() = default;
    // Takes over a new reference (may be null, as returned by a failed call).
    explicit Ref(PyObject* owned) noexcept : p_(owned) {}
    // Adds a reference to a borrowed object.
    static Ref borrowed(PyObject* obj) noexcept {
        Py_XINCREF(obj);
        return Ref(obj);
    }

    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            PyObject* old = std::exchange(p_, std::exchange(other.p_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Gives the reference to the caller (for APIs that steal it).
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }

private:
    PyObject* p_ = nullptr;
};

// The pending Python error, taken and normalized (its value is an exception
// instance, or null when none was pending); nothing is pending afterwards.
struct PendingError {
    Ref type, value, traceback;
};

inline PendingError take_pending_error() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    return {Ref(type), Ref(value), Ref(traceback)};
}

// A new tuple holding the given references, which it takes over on success.
// If any of them is null (a failed call) or the tuple cannot be made, it
// returns null and the references stay with their owners, who drop them.
template <class... Refs>
PyObject* make_tuple(Refs&&... items) {
    const bool all_present = (static_cast<bool>(items) && ...);
    if (!all_present) return nullptr;
    Ref tuple(PyTuple_New(sizeof...(items)));
    if (!tuple) return nullptr;
    Py_ssize_t i = 0;
    ((PyTuple_SET_ITEM(tuple.get(), i++, items.release())), ...);
    return tuple.release();
}

}  // namespace vexlo::py
