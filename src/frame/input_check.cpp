#include "frame/input_check.hpp"

#include <cstring>
#include <utility>

#include "frame/dtypes.hpp"

namespace corvane {

namespace {

// numpy.ma.MaskedArray and numpy.ma.is_masked, found once numpy.ma has been
// imported (by someone else: until then no masked array can exist), and kept
// for the life of the process.
PyObject *masked_type = nullptr;
PyObject *is_masked_fn = nullptr;

// 1 when `a` is a masked array, 0 when not, -1 with an exception set.
int is_masked_array(PyObject *a) {
    if (masked_type == nullptr) {
        static PyObject *module_name = nullptr;
        if (module_name == nullptr) {
            module_name = PyUnicode_InternFromString("numpy.ma");
            if (module_name == nullptr) {
                return -1;
            }
        }
        py_ref ma = py_ref::steal(PyImport_GetModule(module_name));
        if (!ma) {
            return PyErr_Occurred() ? -1 : 0;
        }
        py_ref type = py_ref::steal(PyObject_GetAttrString(ma.get(), "MaskedArray"));
        py_ref fn = type ? py_ref::steal(PyObject_GetAttrString(ma.get(), "is_masked")) : py_ref();
        if (!fn) {
            return -1;
        }
        masked_type = type.release();
        is_masked_fn = fn.release();
    }
    return PyObject_IsInstance(a, masked_type);
}

// Called for a masked array: TypeError when any element is masked.
bool refuse_masked_elements(PyObject *a) {
    py_ref res = py_ref::steal(PyObject_CallOneArg(is_masked_fn, a));
    const int masked = res ? PyObject_IsTrue(res.get()) : -1;
    if (masked > 0) {
        PyErr_SetString(PyExc_TypeError,
                        "masked arrays are not supported: fill the masked values first, "
                        "e.g. a.filled(np.nan)");
    }
    return masked == 0;
}

// The element types an object array may hold to be computed as float64. A
// unitless timedelta64 is a NumPy integer type, but not a number here.
bool is_number(PyObject *o) {
    return o == nullptr || o == Py_None || PyFloat_Check(o) || PyLong_Check(o) ||
           PyArray_IsScalar(o, Bool) || PyArray_IsScalar(o, Floating) ||
           (PyArray_IsScalar(o, Integer) && !PyArray_IsScalar(o, Timedelta));
}

// An element of an object array: 0 when it was read into `v` (None, and the
// exact built-in float, int and bool types, read as NumPy's cast reads them),
// 1 for any other number (left to NumPy's cast), -1 with TypeError when it is
// not a number. Runs no Python code.
int read_number(PyObject *o, double &v) {
    if (o == nullptr || o == Py_None) {
        v = nan_of<double>();
        return 0;
    }
    if (PyFloat_CheckExact(o)) {
        v = PyFloat_AS_DOUBLE(o);
        return 0;
    }
    if (PyLong_CheckExact(o) || PyBool_Check(o)) {
        v = PyLong_AsDouble(o);
        if (v == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();  // beyond the float range: NumPy's cast raises it
            return 1;
        }
        return 0;
    }
    if (is_number(o)) {
        return 1;
    }
    // The type's __name__: its tp_name after the last dot.
    const char *name = Py_TYPE(o)->tp_name;
    const char *dot = std::strrchr(name, '.');
    PyErr_Format(PyExc_TypeError, "object arrays must hold numbers only, got %s",
                 dot != nullptr ? dot + 1 : name);
    return -1;
}

// Replaces the object array `arr` by its float64 conversion, in the same
// memory order: exactly what a.astype(np.float64) gives.
bool numbers_as_float64(py_ref &arr) {
    PyArrayObject *a = arr.array();
    py_ref out = py_ref::steal(
        PyArray_NewLikeArray(a, NPY_KEEPORDER, PyArray_DescrFromType(NPY_FLOAT64), 0));
    if (!out) {
        return false;
    }
    // Every element is checked (in C order) before anything else, and without
    // running Python code, so the array cannot change under the loop. The
    // common elements are converted on the way; NumPy's cast, much slower,
    // is left the rare arrays holding other kinds of numbers.
    bool others = false;
    if (PyArray_SIZE(a) > 0) {
        py_ref in_iter = py_ref::steal(PyArray_IterNew(arr.get()));
        py_ref out_iter = in_iter ? py_ref::steal(PyArray_IterNew(out.get())) : py_ref();
        if (!out_iter) {
            return false;
        }
        auto *in = reinterpret_cast<PyArrayIterObject *>(in_iter.get());
        auto *dst = reinterpret_cast<PyArrayIterObject *>(out_iter.get());
        while (in->index < in->size) {
            double v = 0.0;
            const int kind = read_number(load<PyObject *>(in->dataptr), v);
            if (kind < 0) {
                return false;
            }
            others = others || kind > 0;
            std::memcpy(dst->dataptr, &v, sizeof v);
            PyArray_ITER_NEXT(in);
            PyArray_ITER_NEXT(dst);
        }
    }
    if (others && PyArray_CopyInto(out.array(), a) < 0) {
        return false;
    }
    arr = std::move(out);
    return true;
}

}  // namespace

bool refuse_masked(PyObject *a) {
    if (PyArray_CheckExact(a)) {
        return true;
    }
    const int masked = is_masked_array(a);
    return masked == 0 || (masked > 0 && refuse_masked_elements(a));
}

namespace detail {

bool admit_special(py_ref &arr) {
    if (!PyArray_CheckExact(arr.get())) {
        const int masked = is_masked_array(arr.get());
        if (masked < 0 || (masked > 0 && !refuse_masked_elements(arr.get()))) {
            return false;
        }
        if (masked > 0) {
            // Its data as a plain array: nothing downstream sees the mask or
            // runs the subclass's hooks.
            py_ref plain =
                py_ref::steal(PyArray_View(arr.array(), nullptr, &PyArray_Type));
            if (!plain) {
                return false;
            }
            arr = std::move(plain);
        }
    }
    return PyArray_TYPE(arr.array()) != NPY_OBJECT || numbers_as_float64(arr);
}

}  // namespace detail

}  // namespace corvane
