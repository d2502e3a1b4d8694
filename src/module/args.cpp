#include "args.hpp"

#include "py_ref.hpp"

namespace vexlo::py {
namespace {

int keyword_index(const Signature& sig, PyObject* key) {
    for (int i = 0; i < sig.n_params; ++i) {
        if (PyUnicode_CompareWithASCIIString(key, sig.params[i]) == 0) return i;
    }
    return -1;
}

bool too_many_positional(const Signature& sig, Py_ssize_t nargs) {
    PyErr_Format(PyExc_TypeError, "%s() takes %s %d positional argument%s (%zd given)", sig.name,
                 sig.n_required < sig.n_params ? "at most" : "exactly", sig.n_params,
                 sig.n_params == 1 ? "" : "s", nargs);
    return false;
}

// Places one keyword argument; false with the error set if it is unknown or
// was already given by position.
bool place_keyword(const Signature& sig, PyObject* key, PyObject* value, PyObject** out) {
    if (!PyUnicode_Check(key)) {
        PyErr_SetString(PyExc_TypeError, "keywords must be strings");
        return false;
    }
    const int i = keyword_index(sig, key);
    if (i < 0) {
        PyErr_Format(PyExc_TypeError, "'%U' is an invalid keyword argument for %s()", key,
                     sig.name);
        return false;
    }
    if (out[i] != nullptr) {
        PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%d)",
                     sig.name, sig.params[i], i + 1);
        return false;
    }
    out[i] = value;
    return true;
}

bool check_required(const Signature& sig, PyObject** out) {
    for (int i = 0; i < sig.n_required; ++i) {
        if (out[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %d)",
                         sig.name, sig.params[i], i + 1);
            return false;
        }
    }
    return true;
}

}  // namespace

bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out) {
    for (int i = 0; i < sig.n_params; ++i) out[i] = nullptr;
    if (nargs > sig.n_params) return too_many_positional(sig, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            if (!place_keyword(sig, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out))
                return false;
        }
    }
    return check_required(sig, out);
}

bool bind(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
    for (int i = 0; i < sig.n_params; ++i) out[i] = nullptr;
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (nargs > sig.n_params) return too_many_positional(sig, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            if (!place_keyword(sig, key, value, out)) return false;
        }
    }
    return check_required(sig, out);
}

void name_type_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    const PendingError error = take_pending_error();
    PyObject* value = error.value.get();
    Ref text(value != nullptr ? PyObject_Str(value) : PyUnicode_FromString(""));
    if (!text) return;  // the failure of str() is now the pending error
    PyErr_Format(PyExc_TypeError, "argument '%s': %U", name, text.get());
}

bool to_u64(PyObject* obj, const char* name, std::uint64_t& out) {
    Ref index(PyNumber_Index(obj));
    if (!index) {
        name_type_error(name);
        return false;
    }
    const unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool to_i64(PyObject* obj, const char* name, std::int64_t& out) {
    Ref index(PyNumber_Index(obj));
    if (!index) {
        name_type_error(name);
        return false;
    }
    const long long v = PyLong_AsLongLong(index.get());
    if (v == -1 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool to_f64(PyObject* obj, const char* name, double& out) {
    const double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) {
        name_type_error(name);
        return false;
    }
    out = v;
    return true;
}

bool to_vec2(PyObject* obj, const char* name, Vec2& out) {
    if (!PyTuple_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': expected a tuple of 2 numbers, got '%s'",
                     name, Py_TYPE(obj)->tp_name);
        return false;
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(obj);
    if (n != 2) {
        PyErr_Format(PyExc_ValueError,
                     "argument '%s': expected tuple of length 2, but got tuple of length %zd",
                     name, n);
        return false;
    }
    return to_f64(PyTuple_GET_ITEM(obj, 0), name, out.x) &&
           to_f64(PyTuple_GET_ITEM(obj, 1), name, out.y);
}

// The items are taken from a tuple made first, so that an item's own
// conversion code cannot change the sequence being read.
bool to_u64_sequence(PyObject* obj, const char* name, std::vector<std::uint64_t>& out) {
    if (PyUnicode_Check(obj) || !PySequence_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': expected a sequence of integers, got '%s'",
                     name, Py_TYPE(obj)->tp_name);
        return false;
    }
    Ref items(PySequence_Tuple(obj));
    if (!items) {
        name_type_error(name);
        return false;
    }
    const Py_ssize_t k = PyTuple_GET_SIZE(items.get());
    out.reserve(static_cast<std::size_t>(k));
    for (Py_ssize_t i = 0; i < k; ++i) {
        std::uint64_t value = 0;
        if (!to_u64(PyTuple_GET_ITEM(items.get(), i), name, value)) return false;
        out.push_back(value);
    }
    return true;
}

bool to_array(PyObject* obj, const char* name, int typenum, int ndim, ArrayArg& out) {
    Ref wanted(reinterpret_cast<PyObject*>(PyArray_DescrFromType(typenum)));
    if (!wanted) return false;
    auto* array = PyArray_Check(obj) ? reinterpret_cast<PyArrayObject*>(obj) : nullptr;
    const bool accepted =
        array != nullptr && PyArray_NDIM(array) == ndim &&
        PyArray_EquivTypes(PyArray_DESCR(array), reinterpret_cast<PyArray_Descr*>(wanted.get()));
    if (!accepted) {
        // Only a refusal pays for the type names.
        Ref wanted_name(PyObject_Str(wanted.get()));
        if (!wanted_name) return false;
        if (array == nullptr) {
            PyErr_Format(PyExc_TypeError,
                         "argument '%s': expected a %d-dimensional numpy array of %U, got '%s'",
                         name, ndim, wanted_name.get(), Py_TYPE(obj)->tp_name);
            return false;
        }
        Ref dtype(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(array))));
        if (!dtype) return false;
        PyErr_Format(PyExc_TypeError,
                     "argument '%s': expected a %d-dimensional numpy array of %U, got a "
                     "%d-dimensional numpy array of %U",
                     name, ndim, wanted_name.get(), PyArray_NDIM(array), dtype.get());
        return false;
    }
    out.array = array;
    out.data = static_cast<const char*>(PyArray_DATA(array));
    out.ndim = ndim;
    out.shape = PyArray_SHAPE(array);
    out.strides = PyArray_STRIDES(array);
    return true;
}

bool writes_in_place(const ArrayArg& a, const char* name) {
    if (PyArray_IS_C_CONTIGUOUS(a.array) && PyArray_ISWRITEABLE(a.array) && PyArray_ISALIGNED(a.array))
        return true;
    PyErr_Format(PyExc_ValueError, "argument '%s': must be a writeable, aligned, C-contiguous array",
                 name);
    return false;
}

}  // namespace vexlo::py
