// replace: overwrites, in the caller's own array, every element equal to
// `old` (every NaN when `old` is NaN) with `new`.
//
// Kernels: replace_f64 .. replace_i32 (replace_kernel<T> for double, float,
// int64_t, int32_t).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "frame/cpu.hpp"
#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/py_ref.hpp"
#include "frame/slice_iter.hpp"

namespace corvane {

// `old` or `new` as read from its argument.
struct replace_value {
    double real = 0.0;    // the value as a double (used unless `exact`)
    bool exact = false;   // an integer object, read without rounding
    int64_t whole = 0;    // its value, when it lies in the int64 range
    int beyond = 0;       // -1 / +1: below / above the int64 range
};

// The cast check of the integer kernels: `v` as an element of type T, when it
// is a whole number within T's range. Integer objects are checked on their
// exact value; doubles must be finite and whole.
template <class T>
bool cast_to_element(const replace_value &v, T &out) {
    if (v.exact) {
        if (v.beyond != 0 || v.whole < std::numeric_limits<T>::min() ||
            v.whole > std::numeric_limits<T>::max()) {
            return false;
        }
        out = static_cast<T>(v.whole);
        return true;
    }
    // -2^(bits-1) <= d < 2^(bits-1); NaN fails both comparisons.
    constexpr double bound = -static_cast<double>(std::numeric_limits<T>::min());
    const double d = v.real;
    if (!(d >= -bound && d < bound) || d != std::trunc(d)) {
        return false;
    }
    out = static_cast<T>(d);
    return true;
}

namespace detail {

// Every element x becomes `with` where `match(x)`, else stays x: one store per
// element, changed or not, so the loop is a compare-and-select the compiler
// vectorises. Integers select through masks, as a branch per element would be
// mispredicted wherever matches come at random.
template <class T, class Match>
inline T pick(T x, T with, Match match) {
    if constexpr (is_float<T>) {
        return match(x) ? with : x;
    } else {
        using U = std::make_unsigned_t<T>;
        const U mask = U(0) - static_cast<U>(match(x));
        return static_cast<T>(static_cast<U>(x) ^ ((static_cast<U>(x) ^ static_cast<U>(with)) & mask));
    }
}

// The whole-array walk, replacing in every slice.
template <class T, class Match>
void replace_walk(slice_iter &it, T with, Match match) {
    for (; it.more(); it.next()) {
        const npy_intp len = it.slice_len;
        const npy_intp stride = it.slice_stride;
        if (stride == static_cast<npy_intp>(sizeof(T))) {
            T *x = reinterpret_cast<T *>(it.slice_start);
            for (npy_intp j = 0; j < len; j++) {
                x[j] = pick(x[j], with, match);
            }
        } else {
            char *p = it.slice_start;
            for (npy_intp j = 0; j < len; j++, p += stride) {
                T &x = *reinterpret_cast<T *>(p);
                x = pick(x, with, match);
            }
        }
    }
}

// Matching `old` (or NaN): the two predicates of replace.
template <class T>
struct equal_to {
    T old;
    bool operator()(T x) const { return x == old; }
};
template <class T>
struct nan_test {
    bool operator()(T x) const { return is_nan(x); }
};

// Runs the walk over all of `a` with the lock released (unless `a` is tiny).
template <class T, class Match>
void replace_all(PyArrayObject *a, T with, Match match) {
    slice_iter it;
    slice_iter_init_all(it, a);
    gil_released nogil(worth_releasing(PyArray_SIZE(a)));
    // Compiled for the widest vectors the processor has.
    isa_dispatch([&](auto) { replace_walk(it, with, match); });
}

}  // namespace detail

// Replaces in `a` (writeable, aligned, native byte order, element type T) and
// returns a new reference to it, or null after a failed cast check.
template <class T>
PyObject *replace_kernel(PyArrayObject *a, const replace_value &old_v, const replace_value &new_v) {
    if constexpr (is_float<T>) {
        static_assert(std::numeric_limits<T>::is_iec559);
        // float32 arrays compare with, and store, the values rounded to float32.
        const T new_x = static_cast<T>(new_v.real);
        if (is_nan(old_v.real)) {
            detail::replace_all<T>(a, new_x, detail::nan_test<T>{});
        } else {
            detail::replace_all<T>(a, new_x, detail::equal_to<T>{static_cast<T>(old_v.real)});
        }
    } else {
        // An integer array holds no NaN: nothing to replace, `new` unchecked.
        if (!old_v.exact && is_nan(old_v.real)) {
            return py_ref::borrow(reinterpret_cast<PyObject *>(a)).release();
        }
        T old_x;
        T new_x;
        if (!cast_to_element(old_v, old_x)) {
            PyErr_SetString(PyExc_ValueError, "Cannot safely cast `old` to int");
            return nullptr;
        }
        if (!cast_to_element(new_v, new_x)) {
            PyErr_SetString(PyExc_ValueError, "Cannot safely cast `new` to int");
            return nullptr;
        }
        detail::replace_all<T>(a, new_x, detail::equal_to<T>{old_x});
    }
    return py_ref::borrow(reinterpret_cast<PyObject *>(a)).release();
}

}  // namespace corvane
