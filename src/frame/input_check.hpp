// Inputs the kernels cannot read as they stand: masked arrays, whose data holds
// no value where an element is masked, and object arrays, which are computed
// as their float64 conversion when they hold numbers.
#pragma once

#include "frame/py_ref.hpp"

namespace corvane {

// TypeError (returns false) when `a` is a masked array with a masked element.
// Plain arrays are passed at the cost of one type test.
bool refuse_masked(PyObject *a);

namespace detail {
bool admit_special(py_ref &arr);
}  // namespace detail

// Readies the working array of a computing function, before any kernel sees
// it: refuses a masked array with masked elements (one without is read as a
// plain view of its data), and replaces an object array by its float64
// conversion when every element is a bool, int or float (Python or NumPy
// scalar) or None (NaN), else raises TypeError naming the first other element
// type. Returns false with an exception set.
inline bool admit_array(py_ref &arr) {
    if (PyArray_CheckExact(arr.get()) && PyArray_TYPE(arr.array()) != NPY_OBJECT) {
        return true;
    }
    return detail::admit_special(arr);
}

}  // namespace corvane
