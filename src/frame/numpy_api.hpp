// The one include for Python and NumPy's C API.
//
// Every translation unit of a module shares one API table (named by
// PY_ARRAY_UNIQUE_SYMBOL on the command line); only module_init.cpp defines it
// and fills it, the others see it as an extern.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#ifndef CORVANE_DEFINE_ARRAY_API
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

// Symbols a native caller may link against; everything else stays hidden.
#define CORVANE_EXPORT extern "C" __attribute__((visibility("default")))

// Per-element byte stride and length of NumPy arrays.
using npy_len = npy_intp;

// METH_VARARGS | METH_KEYWORDS functions are stored as PyCFunction; the cast
// through void(*)(void) says so without a function-type warning.
#define CORVANE_KW_METHOD(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(fn))

// Opens a method docstring with its signature line. The "--" marker gives the
// method a __text_signature__ (so inspect.signature and help() show it), and
// the line is repeated so that __doc__ itself starts with it as well.
#define CORVANE_SIGNATURE(sig) sig "\n--\n\n" sig "\n\n"
