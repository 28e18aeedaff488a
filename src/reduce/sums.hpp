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

template <class T>
struct nansum_op {
    using in = T;
    using out = T;
    using acc = sum_of<T>;
    static acc init() { return acc(0); }
    static void add(acc &s, T x) {
        // The running sum starts at +0 and never becomes -0, so adding +0
        // for a NaN is the same as skipping it.
        s = wrap_add(s, static_cast<acc>(zero_if_nan(x)));
    }
    static out finish(const acc &s, npy_intp) { return static_cast<T>(s); }
    static out empty() { return T(0); }
};

template <class T>
struct nanmean_op {
    using in = T;
    using out = real_of<T>;
    struct acc {
        double sum;
        npy_intp count;
    };
    static acc init() { return {0.0, 0}; }
    static void add(acc &s, T x) {
        s.sum += static_cast<double>(zero_if_nan(x));
        s.count += !is_nan(x);
    }
    static out finish(const acc &s, npy_intp) {
        return static_cast<out>(s.count == 0 ? nan_of<double>()
                                             : s.sum / static_cast<double>(s.count));
    }
    static out empty() { return nan_of<out>(); }
};

template <class T>
struct ss_op {
    using in = T;
    using out = T;
    using acc = sum_of<T>;
    static acc init() { return acc(0); }
    static void add(acc &s, T x) {
        const acc w = static_cast<acc>(x);
        s = wrap_add(s, wrap_mul(w, w));
    }
    static out finish(const acc &s, npy_intp) { return static_cast<T>(s); }
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
