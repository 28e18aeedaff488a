// nanvar and nanstd with `ddof`, in two passes: the sum and count of the
// non-NaN elements, then the sum of squared deviations from their mean,
// divided by N - ddof (NaN when that is not positive).
//
// Kernels: nanvar_whole_f64 .. nanvar_whole_i32, nanvar_axis_f64 .. nanvar_axis_i32,
// nanstd_whole_f64 .. nanstd_axis_i32 (the template instances for double,
// float, int64_t, int32_t).
//
// float32 data is processed in float32 throughout; integers are converted to
// double element by element. Along an axis every integer slice has the same
// length L, so the mean and the divisor use the reciprocals 1/L and
// 1/(L - ddof), computed once.
#pragma once

#include <cmath>

#include "reduce/walk.hpp"

namespace corvane {

template <class T, bool Std>
struct nanvar_op {
    using in = T;
    using R = real_of<T>;
    using out = R;
    struct acc {
        R sum;
        npy_intp n;
    };

    npy_intp ddof = 0;
    // Integer slices along an axis: multiply by r1 = 1/L and r2 = 1/(L - ddof).
    bool reciprocals = false;
    double r1 = 0.0;
    double r2 = 0.0;

    // The second pass: squared deviations from `mean`.
    struct second_op {
        using in = T;
        using out = R;
        using acc = R;
        R mean = R(0);
        R divisor = R(1);
        double r2 = 0.0;
        bool reciprocal = false;
        bool skip = true;

        acc init() const { return R(0); }
        void add(acc &ssd, T x) const {
            // A NaN adds +0, which leaves the (never negative-zero) sum as it was.
            const R d = is_nan(x) ? R(0) : static_cast<R>(x) - mean;
            ssd += d * d;
        }
        out finish(const acc &ssd, npy_intp) const {
            if (skip) {
                return nan_of<R>();
            }
            R v;
            if constexpr (is_float<T>) {
                v = ssd / divisor;
            } else {
                v = reciprocal ? ssd * r2 : ssd / divisor;
            }
            if constexpr (Std) {
                return std::sqrt(v);
            } else {
                return v;
            }
        }
    };

    acc init() const { return {R(0), 0}; }
    void add(acc &s, T x) const {
        const bool keep = !is_nan(x);
        s.sum += keep ? static_cast<R>(x) : R(0);
        s.n += keep;
    }
    second_op second(const acc &s, npy_intp) const {
        second_op o;
        o.skip = !(ddof < s.n);
        o.reciprocal = reciprocals;
        o.r2 = r2;
        if (reciprocals) {
            o.mean = static_cast<R>(s.sum * r1);
        } else {
            o.mean = s.sum / static_cast<R>(s.n);
            o.divisor = static_cast<R>(s.n - ddof);
        }
        return o;
    }
    out empty() const { return nan_of<R>(); }
};

namespace detail {

template <class T, bool Std>
PyObject *nanvar_whole_kernel(PyArrayObject *a, int ddof) {
    nanvar_op<T, Std> op;
    op.ddof = ddof;
    return reduce_whole(a, op);
}

template <class T, bool Std>
PyObject *nanvar_axis_kernel(PyArrayObject *a, int axis, int ddof) {
    nanvar_op<T, Std> op;
    op.ddof = ddof;
    if constexpr (!is_float<T>) {
        const npy_intp len = PyArray_DIM(a, axis);
        op.reciprocals = true;
        op.r1 = 1.0 / static_cast<double>(len);
        op.r2 = 1.0 / static_cast<double>(len - op.ddof);
    }
    return reduce_axis(a, axis, op);
}

}  // namespace detail

template <class T>
inline constexpr reduce_whole_fn nanvar_whole = detail::nanvar_whole_kernel<T, false>;
template <class T>
inline constexpr reduce_axis_fn nanvar_axis = detail::nanvar_axis_kernel<T, false>;
template <class T>
inline constexpr reduce_whole_fn nanstd_whole = detail::nanvar_whole_kernel<T, true>;
template <class T>
inline constexpr reduce_axis_fn nanstd_axis = detail::nanvar_axis_kernel<T, true>;

}  // namespace corvane
