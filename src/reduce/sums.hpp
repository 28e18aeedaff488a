// nansum, nanmean and ss: sequential sums, NaNs skipped (nansum, nanmean) or
// propagated (ss). Integer sums wrap around in the input's width.
//
// Kernels: nansum_whole_f64 .. nansum_whole_i32, nansum_axis_f64 .. nansum_axis_i32,
// nanmean_whole_f64 .. nanmean_axis_i32, ss_whole_f64 .. ss_axis_i32
// (the template instances for double, float, int64_t, int32_t).
#pragma once

#include "reduce/walk.hpp"

namespace corvane {

template <class T>
struct nansum_op {
    using in = T;
    using out = T;
    using acc = T;
    static acc init() { return T(0); }
    static void add(acc &s, T x) {
        // The running sum starts at +0 and never becomes -0, so adding +0
        // for a NaN is the same as skipping it.
        s = wrap_add(s, zero_if_nan(x));
    }
    static out finish(const acc &s, npy_intp) { return s; }
    static out empty() { return T(0); }
};

template <class T>
struct nanmean_op {
    using in = T;
    using R = real_of<T>;
    using out = R;
    struct acc {
        R sum;
        npy_intp count;
    };
    static acc init() { return {R(0), 0}; }
    static void add(acc &s, T x) {
        s.sum += static_cast<R>(zero_if_nan(x));
        s.count += !is_nan(x);
    }
    static out finish(const acc &s, npy_intp) {
        return s.count == 0 ? nan_of<R>() : s.sum / static_cast<R>(s.count);
    }
    static out empty() { return nan_of<R>(); }
};

template <class T>
struct ss_op {
    using in = T;
    using out = T;
    using acc = T;
    static acc init() { return T(0); }
    static void add(acc &s, T x) { s = wrap_add(s, wrap_mul(x, x)); }
    static out finish(const acc &s, npy_intp) { return s; }
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
