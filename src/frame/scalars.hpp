// Python scalars from kernel results.
#pragma once

#include <cstdint>

#include "frame/numpy_api.hpp"

namespace corvane {

// float32 results are widened exactly to a Python float.
inline PyObject *py_scalar(double v) { return PyFloat_FromDouble(v); }
inline PyObject *py_scalar(float v) { return PyFloat_FromDouble(static_cast<double>(v)); }
inline PyObject *py_scalar(int64_t v) { return PyLong_FromLongLong(v); }
inline PyObject *py_scalar(int32_t v) { return PyLong_FromLongLong(v); }
inline PyObject *py_scalar(bool v) { return PyBool_FromLong(v); }

// NumPy type number of a kernel's output element type.
template <class O>
inline constexpr int out_typenum = 0;
template <>
inline constexpr int out_typenum<double> = NPY_FLOAT64;
template <>
inline constexpr int out_typenum<float> = NPY_FLOAT32;
template <>
inline constexpr int out_typenum<int64_t> = NPY_INT64;
template <>
inline constexpr int out_typenum<int32_t> = NPY_INT32;
template <>
inline constexpr int out_typenum<bool> = NPY_BOOL;

}  // namespace corvane
