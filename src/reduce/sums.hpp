// nansum, nanmean and ss: sequential sums, NaNs skipped (nansum, nanmean) or
// propagated (ss). Integer sums wrap around in the input's width; float32
// elements are summed in float64 and the result is rounded once to float32,
// so that a long float32 sum does not stall or drift.
//
// Kernels: nansum_whole_f64 .. nansum_whole_i32, nansum_axis_f64 .. nansum_axis_i32,
// nanmean_whole_f64 .. nanmean_axis_i32, ss_whole_f64 .. ss_axis_i32
// (the template instances for double, float, int64_t, int32_t).
#pragma once

#include "reduce/walk.hpp"

namespace corvane {

// The running sum's type: float64 for either float type, the input's own
// type for integers (whose sums wrap around).
template <class T>
using sum_of = std::conditional_t<is_float<T>, double, T>;

// The state of a sum: a sum_acc for floats (whose walks take the terms in
// blocks), the plain wrapping sum for integers.
template <class T>
using plain_sum_acc = std::conditional_t<is_float<T>, sum_acc<double>, T>;

template <class T>
struct nansum_op {
    using in = T;
    using out = T;
    using W = sum_of<T>;
    using acc = plain_sum_acc<T>;
    static constexpr bool counts = false;
    static constexpr bool narrow_term = true;
    static acc init() { return acc{}; }
    // The running sum starts at +0 and never becomes -0, so adding +0 for a
    // NaN is the same as skipping it.
    static W term(T x) { return static_cast<W>(zero_if_nan(x)); }
    template <class V>
    static V wide_term(V w) {
        return detail::zero_where_nan(w, w);
    }
    static void add(acc &s, T x) {
        if constexpr (is_float<T>) {
            s.sum += term(x);
        } else {
            s = wrap_add(s, x);
        }
    }
    static out finish(const acc &s, npy_intp) {
        if constexpr (is_float<T>) {
            return static_cast<T>(s.sum);
        } else {
            return s;
        }
    }
    static out empty() { return T(0); }
};

template <class T>
struct nanmean_op {
    using in = T;
    using out = real_of<T>;
    using W = double;
    using acc = sum_acc<double>;
    static constexpr bool counts = true;
    static constexpr bool narrow_term = true;
    static acc init() { return {0.0, 0}; }
    static W term(T x) { return static_cast<W>(zero_if_nan(x)); }
    template <class V>
    static V wide_term(V w) {
        return detail::zero_where_nan(w, w);
    }
    static void add(acc &s, T x) {
        s.sum += term(x);
        s.n += !is_nan(x);
    }
    static out finish(const acc &s, npy_intp) {
        return static_cast<out>(s.n == 0 ? nan_of<double>() : s.sum / static_cast<double>(s.n));
    }
    static out empty() { return nan_of<out>(); }
};

template <class T>
struct ss_op {
    using in = T;
    using out = T;
    using W = sum_of<T>;
    using acc = plain_sum_acc<T>;
    static constexpr bool counts = false;
    static constexpr bool narrow_term = false;
    static acc init() { return acc{}; }
    static W term(T x) {
        const W w = static_cast<W>(x);
        return wrap_mul(w, w);
    }
    template <class V>
    static V wide_term(V w) {
        return w * w;
    }
    static void add(acc &s, T x) {
        if constexpr (is_float<T>) {
            s.sum += term(x);
        } else {
            s = wrap_add(s, term(x));
        }
    }
    static out finish(const acc &s, npy_intp) {
        if constexpr (is_float<T>) {
            return static_cast<T>(s.sum);
        } else {
            return s;
        }
    }
    static out empty() { return T(0); }
};

template <class T>
inline constexpr reduce_whole_fn nansum_whole = whole_kernel<nansum_op<T>>;
template <class T>
inline constexpr reduce_axis_fn nansum_axis = axis_kernel<nansum_op<T>>;
template <class T>
inline constexpr reduce_whole_fn nanmean_whole = whole_kernel<nanmean_op<T>>;
template <class T>
inline constexpr reduce_axis_fn nanmean_axis = axis_kernel<nanmean_op<T>>;
template <class T>
inline constexpr reduce_whole_fn ss_whole = whole_kernel<ss_op<T>>;
template <class T>
inline constexpr reduce_axis_fn ss_axis = axis_kernel<ss_op<T>>;

}  // namespace corvane
