// An owned reference to a Python object, released exactly once.
#pragma once

#include "frame/numpy_api.hpp"

namespace corvane {

class py_ref {
  public:
    py_ref() = default;
    // Takes over a new reference (may be null).
    static py_ref steal(PyObject *o) { return py_ref(o); }
    // Takes a new reference to a borrowed object.
    static py_ref borrow(PyObject *o) {
        Py_XINCREF(o);
        return py_ref(o);
    }

    py_ref(const py_ref &) = delete;
    py_ref &operator=(const py_ref &) = delete;
    py_ref(py_ref &&other) noexcept : obj_(other.obj_) { other.obj_ = nullptr; }
    py_ref &operator=(py_ref &&other) noexcept {
        if (this != &other) {
            Py_XDECREF(obj_);
            obj_ = other.obj_;
            other.obj_ = nullptr;
        }
        return *this;
    }
    ~py_ref() { Py_XDECREF(obj_); }

    PyObject *get() const { return obj_; }
    PyArrayObject *array() const { return reinterpret_cast<PyArrayObject *>(obj_); }
    explicit operator bool() const { return obj_ != nullptr; }
    // Hands the reference to the caller.
    PyObject *release() {
        PyObject *o = obj_;
        obj_ = nullptr;
        return o;
    }

  private:
    explicit py_ref(PyObject *o) : obj_(o) {}
    PyObject *obj_ = nullptr;
};

}  // namespace corvane
