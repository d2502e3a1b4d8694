#pragma once

#include "numpy_api.hpp"
#include "py_ref.hpp"

namespace vexlo::py {

// A new row-major array of the given shape, and its data (left unset when
// the array cannot be made, with the Python error pending).
template <class T>
Ref new_array(int ndim, const npy_intp* dims, int typenum, T*& data) {
    Ref array(PyArray_SimpleNew(ndim, const_cast<npy_intp*>(dims), typenum));
    if (array) data = static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
    return array;
}

}  // namespace vexlo::py
