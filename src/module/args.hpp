#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "numpy_api.hpp"
#include "vexlo/batch.hpp"
#include "vexlo/vec2.hpp"

namespace vexlo::py {

// The parameter list of a callable, for binding positional and keyword
// arguments by name.
struct Signature {
    const char* name;            // as shown in messages, e.g. "physics_step"
    const char* const* params;   // parameter names in order
    int n_params;
    int n_required;              // the first n_required have no default
};

// Binds a vectorcall argument list. On success out[i] is the (borrowed)
// object for parameter i, or null where it was omitted. On failure the
// interpreter's usual TypeError is set.
bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out);
// The same for a tuple and a keyword dictionary (the type's __new__).
bool bind(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

// Conversions through the integer-index protocol. A TypeError is reported
// with the argument's name in front; an OverflowError is left as it is.
bool to_u64(PyObject* obj, const char* name, std::uint64_t& out);
bool to_i64(PyObject* obj, const char* name, std::int64_t& out);
// Anything the interpreter turns into a float.
bool to_f64(PyObject* obj, const char* name, double& out);
// A tuple of exactly two numbers.
bool to_vec2(PyObject* obj, const char* name, Vec2& out);

// A sequence of integers (not a string), each through to_u64.
bool to_u64_sequence(PyObject* obj, const char* name, std::vector<std::uint64_t>& out);

// Puts "argument '<name>': " in front of a pending TypeError.
void name_type_error(const char* name);

// An array argument, read in place: the checked array and its geometry.
struct ArrayArg {
    PyArrayObject* array = nullptr;  // borrowed from the caller's arguments
    const char* data = nullptr;
    int ndim = 0;
    const npy_intp* shape = nullptr;
    const npy_intp* strides = nullptr;

    // The array as the batch reads it, in place (Rank is the checked ndim).
    template <class T, int Rank>
    StridedView<T, Rank> view() const {
        StridedView<T, Rank> v;
        v.data = data;
        for (int i = 0; i < Rank; ++i) {
            v.shape[i] = shape[i];
            v.strides[i] = strides[i];
        }
        return v;
    }
};

// Accepts a NumPy array (or subclass) with exactly `ndim` dimensions whose
// element type is equivalent to `typenum` in native byte order; anything else
// raises a TypeError naming the argument.
bool to_array(PyObject* obj, const char* name, int typenum, int ndim, ArrayArg& out);

// Whether the engine may write into `a` as a dense array: writeable, aligned,
// C-contiguous; a ValueError naming the argument otherwise.
bool writes_in_place(const ArrayArg& a, const char* name);

}  // namespace vexlo::py
