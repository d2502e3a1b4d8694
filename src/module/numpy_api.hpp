#pragma once

// Every translation unit of the module shares one NumPy API table; only the
// module initialisation defines VEXLO_IMPORT_NUMPY and fills it.
#include <Python.h>

#define PY_ARRAY_UNIQUE_SYMBOL vexlo_numpy_api
#ifndef VEXLO_IMPORT_NUMPY
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
