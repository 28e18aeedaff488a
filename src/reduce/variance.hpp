// nanvar and nanstd with `ddof`, in two passes: the sum and count of the
// non-NaN elements, then the sum of squared deviations from their mean,
// divided by N - ddof (NaN when that is not positive).
//
// Kernels: nanvar_whole_f64 .. nanvar_whole_i32, nanvar_axis_f64 .. nanvar_axis_i32,
// nanstd_whole_f64 .. nanstd_axis_i32 (the template instances for double,
// float, int64_t, int32_t).
//
// Every element type is computed in float64, element by element: float32
// results are rounded once to float32 at the end. Along an axis every integer
// slice has the same length L, so the mean and the divisor use the
// reciprocals 1/L and 1/(L - ddof), computed once.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "reduce/walk.hpp"

namespace corvane {

template <class T, bool Std>
struct nanvar_op {
    using in = T;
    using R = double;  // the type everything is computed in
    using out = real_of<T>;
    using W = double;
    using acc = sum_acc<double>;
    static constexpr bool counts = true;
    static constexpr bool narrow_term = true;

    npy_intp ddof = 0;
    // Integer slices along an axis: multiply by r1 = 1/L and r2 = 1/(L - ddof)
    // instead of dividing (never set for float data).
    bool reciprocals = false;
    double r1 = 0.0;
    double r2 = 0.0;

    // The second pass: squared deviations from the mean.
    struct second_op {
        using in = T;
        using W = double;
        using acc = sum_acc<double>;
        static constexpr bool counts = false;
        static constexpr bool narrow_term = false;
        R mean = R(0);
        static acc init() { return {0.0, 0}; }
        W term(T x) const {
            // A NaN adds +0, which leaves the (never negative-zero) sum as it was.
            const R d = static_cast<R>(zero_if_nan(x)) - (x == x ? mean : R(0));
            return d * d;
        }
        template <class V>
        V wide_term(V w) const {
            const V d = detail::zero_where_nan(w, w - mean);
            return d * d;
        }
        void add(acc &s, T x) const { s.sum += term(x); }
    };

    acc init() const { return {0.0, 0}; }
    static W term(T x) { return static_cast<W>(zero_if_nan(x)); }
    template <class V>
    static V wide_term(V w) {
        return detail::zero_where_nan(w, w);
    }
    void add(acc &s, T x) const {
        s.sum += term(x);
        s.n += !is_nan(x);
    }
    bool skip_second(const acc &s, npy_intp) const { return !(ddof < s.n); }
    second_op second(const acc &s, npy_intp) const {
        return {reciprocals ? static_cast<R>(s.sum * r1) : s.sum / static_cast<R>(s.n)};
    }
    out finish2(const acc &s, const typename second_op::acc &t, npy_intp) const {
        if (skip_second(s, 0)) {
            return nan_of<out>();
        }
        const R v =
            reciprocals ? static_cast<R>(t.sum * r2) : t.sum / static_cast<R>(s.n - ddof);
        if constexpr (Std) {
            return static_cast<out>(std::sqrt(v));
        } else {
            return static_cast<out>(v);
        }
    }
    out empty() const { return nan_of<out>(); }
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
