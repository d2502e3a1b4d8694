// save_state, load_state, digest, and pickling and copying through them.
#include <cstring>
#include <string>

#include "args.hpp"
#include "arrays.hpp"
#include "numpy_api.hpp"
#include "py_ref.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
namespace {

// A pickle names the module version that made it; another version may lay
// out its blobs or its batches differently, so it is refused.
constexpr const char* MODULE_VERSION = VEXLO_VERSION;

// None or omitted: every environment; otherwise an (N,) bool array.
bool to_mask(PyObject* obj, ArrayArg& array, EnvMask& mask) {
    if (obj == nullptr || obj == Py_None) return true;
    if (!to_array(obj, "mask", NPY_BOOL, 1, array)) return false;
    static_assert(sizeof(npy_bool) == sizeof(std::uint8_t));
    mask = array.view<std::uint8_t, 1>();
    return true;
}

// A bytes-like object's bytes, held for the call.
struct BlobBuffer {
    Py_buffer view{};
    bool held = false;
    ~BlobBuffer() {
        if (held) PyBuffer_Release(&view);
    }
    bool take(PyObject* obj) {
        if (PyObject_GetBuffer(obj, &view, PyBUF_SIMPLE) < 0) {
            name_type_error("blob");
            return false;
        }
        held = true;
        return true;
    }
    std::span<const std::uint8_t> bytes() const {
        return {static_cast<const std::uint8_t*>(view.buf), static_cast<std::size_t>(view.len)};
    }
};

// Written straight into the bytes object, which a large blob makes worth it.
Ref save_bytes(const Batch& b, const EnvMask& mask) {
    Ref bytes;
    auto allocate = [&bytes](std::size_t n) -> std::uint8_t* {
        bytes = Ref(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n)));
        return bytes ? reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes.get())) : nullptr;
    };
    if (BatchStatus refused = b.save_state_into(allocate, mask)) {
        // A failed allocation has its MemoryError pending already.
        if (!PyErr_Occurred()) raise(*refused);
        return Ref();
    }
    return bytes;
}

// A new batch of the same stadium, sizes and settings, with the same state.
PyObject* clone(const Batch& b) {
    const BatchSizes sizes{b.n_envs(), b.n_red(), b.n_blue(), b.step_limit(), b.tick_skip()};
    BatchOrError built = Batch::from_stadium(b.stadium_text(), sizes);
    if (Batch* copy = std::get_if<Batch>(&built)) {
        BlobOrError blob = b.save_state();
        if (const BatchError* error = std::get_if<BatchError>(&blob)) return raise(*error);
        if (BatchStatus refused = copy->load_state(std::get<std::vector<std::uint8_t>>(blob)))
            return raise(*refused);
    }
    return wrap_batch(&VecEnvType, std::move(built));
}

}  // namespace

const char* const SAVE_STATE_PARAMS[] = {"mask"};
const Signature SAVE_STATE_SIGNATURE{"save_state", SAVE_STATE_PARAMS, 1, 0};
const char* const LOAD_STATE_PARAMS[] = {"blob", "mask"};
const Signature LOAD_STATE_SIGNATURE{"load_state", LOAD_STATE_PARAMS, 2, 1};
const char* const SETSTATE_PARAMS[] = {"state"};
const Signature SETSTATE_SIGNATURE{"__setstate__", SETSTATE_PARAMS, 1, 1};
const char* const DEEPCOPY_PARAMS[] = {"memo"};
const Signature DEEPCOPY_SIGNATURE{"__deepcopy__", DEEPCOPY_PARAMS, 1, 1};

PyObject* vecenv_save_state(Batch& b, PyObject* const* args) {
    ArrayArg array;
    EnvMask mask;
    if (!to_mask(args[0], array, mask)) return nullptr;
    return save_bytes(b, mask).release();
}

PyObject* vecenv_load_state(Batch& b, PyObject* const* args) {
    BlobBuffer blob;
    ArrayArg array;
    EnvMask mask;
    if (!blob.take(args[0]) || !to_mask(args[1], array, mask)) return nullptr;
    if (BatchStatus refused = b.load_state(blob.bytes(), mask)) return raise(*refused);
    Py_RETURN_NONE;
}

PyObject* vecenv_digest(Batch& b, PyObject* const*) {
    const npy_intp dims[1] = {static_cast<npy_intp>(b.n_envs())};
    std::uint64_t* out = nullptr;
    Ref digests = new_array(1, dims, NPY_UINT64, out);
    if (!digests) return nullptr;
    b.digest(out);
    return digests.release();
}

PyObject* vecenv_reduce(Batch& b, PyObject* const*) {
    Ref rebuild(PyObject_GetAttrString(reinterpret_cast<PyObject*>(&VecEnvType), "from_vxs"));
    if (!rebuild) return nullptr;
    const std::string_view text = b.stadium_text();
    Ref text_obj(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!text_obj) return nullptr;
    Ref args(Py_BuildValue("(OKKKKK)", text_obj.get(),
                           static_cast<unsigned long long>(b.n_envs()),
                           static_cast<unsigned long long>(b.n_red()),
                           static_cast<unsigned long long>(b.n_blue()),
                           static_cast<unsigned long long>(b.step_limit()),
                           static_cast<unsigned long long>(b.tick_skip())));
    Ref version(PyUnicode_FromString(MODULE_VERSION));
    Ref blob = save_bytes(b, std::nullopt);
    if (!args || !version || !blob) return nullptr;
    Ref state(make_tuple(std::move(version), std::move(blob)));
    return make_tuple(std::move(rebuild), std::move(args), std::move(state));
}

PyObject* vecenv_setstate(Batch& b, PyObject* const* args) {
    PyObject* state = args[0];
    if (!PyTuple_Check(state) || PyTuple_GET_SIZE(state) != 2 ||
        !PyUnicode_Check(PyTuple_GET_ITEM(state, 0))) {
        PyErr_SetString(PyExc_ValueError,
                        "__setstate__: expected (module version, state blob) as pickled by VecEnv");
        return nullptr;
    }
    const char* version = PyUnicode_AsUTF8(PyTuple_GET_ITEM(state, 0));
    if (version == nullptr) return nullptr;
    if (std::strcmp(version, MODULE_VERSION) != 0) {
        PyErr_Format(PyExc_ValueError,
                     "this VecEnv was pickled by vexlo_core %s and cannot be loaded by "
                     "vexlo_core %s",
                     version, MODULE_VERSION);
        return nullptr;
    }
    BlobBuffer blob;
    if (!blob.take(PyTuple_GET_ITEM(state, 1))) return nullptr;
    if (BatchStatus refused = b.load_state(blob.bytes())) return raise(*refused);
    Py_RETURN_NONE;
}

PyObject* vecenv_copy(Batch& b, PyObject* const*) { return clone(b); }

PyObject* vecenv_deepcopy(Batch& b, PyObject* const*) { return clone(b); }

}  // namespace vexlo::py
