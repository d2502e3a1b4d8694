// Initialisation of the module vexlo_core.
#define VEXLO_IMPORT_NUMPY
#include "numpy_api.hpp"
#include "vexlo/flag.hpp"
#include "py_ref.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
int add_stadium_info(PyObject* module);  // stadium_info.cpp
namespace {

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT,
    "vexlo_core",
    "",
    0,  // no per-module state; see PyInit_vexlo_core for repeated initialisation
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The module built by the first initialisation, and the interpreter it
// belongs to. It lives as long as the process.
PyObject* g_module = nullptr;
PyInterpreterState* g_interpreter = nullptr;

PyObject* create_module() {
    if (_import_array() < 0) return nullptr;
    if (init_vecenv_type() < 0) return nullptr;
    Ref module(PyModule_Create(&MODULE_DEF));
    if (!module) return nullptr;
    Ref type = Ref::borrowed(reinterpret_cast<PyObject*>(&VecEnvType));
    if (PyModule_AddObject(module.get(), "VecEnv", type.get()) < 0) return nullptr;
    type.release();  // the module holds it now
    if (PyModule_AddFunctions(module.get(), PROBE_FUNCTIONS) < 0) return nullptr;
    if (PyModule_AddFunctions(module.get(), THREAD_FUNCTIONS) < 0) return nullptr;
    if (PyModule_AddIntConstant(module.get(), "FLAG_RED", flag::FLAG_RED) < 0) return nullptr;
    if (PyModule_AddIntConstant(module.get(), "FLAG_BLUE", flag::FLAG_BLUE) < 0) return nullptr;
    // The package version, from CMake's project(), which the build checks against pyproject.toml.
    if (PyModule_AddStringConstant(module.get(), "__version__", VEXLO_VERSION) < 0) return nullptr;
    if (add_stadium_info(module.get()) < 0) return nullptr;
    return module.release();
}

}  // namespace
}  // namespace vexlo::py

// The interpreter calls this again when the module is imported anew in the
// same process: the same interpreter gets the module it already has, another
// interpreter is refused, since the class and the worker pool are per process.
PyMODINIT_FUNC PyInit_vexlo_core(void) {
    using namespace vexlo::py;
    PyInterpreterState* interp = PyInterpreterState_Get();
    if (g_module != nullptr) {
        if (interp != g_interpreter) {
            PyErr_SetString(PyExc_ImportError,
                            "vexlo_core cannot be loaded in more than one interpreter per process");
            return nullptr;
        }
        Py_INCREF(g_module);
        return g_module;
    }
    PyObject* module = create_module();
    if (module == nullptr) return nullptr;
    Py_INCREF(module);
    g_module = module;
    g_interpreter = interp;
    return module;
}
