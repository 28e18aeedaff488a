// move_exp_nancount, move_exp_nansum, move_exp_nanmean, move_exp_nanvar and
// move_exp_nanstd: exponentially weighted windows, one pass along each slice.
//
// Kernels: exp_axis<Stat, T> for the five statistics below and T = double,
// float, int64_t, int32_t; every input is computed in double (float32 output
// rounded once).
//
// The value at position t weighs (1 - alpha)^(t - i) for each non-NaN x[i],
// i <= t: the decay runs through NaN positions too (pandas' adjust=True,
// ignore_na=False). The decayed weight alpha * sum (1 - alpha)^(t - i) over
// the non-NaN values seen gates the output: below min_weight it is NaN.
//
// Every state is a recurrence that multiplies by the decay and adds the new
// value, never a difference of running sums: the variance is the weighted
// form of Welford's update. With alpha < 1 a value's weight never reaches
// zero, so an infinity stays in every later result; with alpha = 1 only the
// newest value counts, and the recurrences skip the multiplication by a zero
// decay (which would make NaN of an infinity).
#pragma once

#include <cmath>

#include "move/kernel_frame.hpp"

namespace corvane {

// (array, axis, alpha, min_weight) -> new array or null. The entry has
// checked 0 < alpha <= 1, that min_weight is not NaN, and normalised axis.
using exp_kernel = PyObject *(*)(PyArrayObject *a, int axis, double alpha, double min_weight);

struct exp_params {
    double alpha;
    double decay;       // 1 - alpha
    double decay2;      // decay * decay
    double min_weight;
    bool full;          // alpha == 1: past values weigh nothing
};

// The gate shared by every statistic: alpha times the decayed count of the
// non-NaN values, accumulated as numbagg accumulates it.
struct exp_weight {
    double w = 0;
    void step(bool obs, const exp_params &p) { w = w * p.decay + (obs ? p.alpha : 0.0); }
    bool enough(const exp_params &p) const { return w >= p.min_weight; }
};

struct exp_count {
    exp_weight g;
    double c = 0;
    double step(double x, const exp_params &p) {
        const bool obs = x == x;
        g.step(obs, p);
        c = c * p.decay + (obs ? 1.0 : 0.0);
        return g.enough(p) ? c : nan_of<double>();
    }
};

struct exp_sum {
    exp_weight g;
    double s = 0;
    bool seen = false;
    double step(double x, const exp_params &p) {
        const bool obs = x == x;
        g.step(obs, p);
        const double kept = p.full ? 0.0 : s * p.decay;
        s = obs ? kept + x : kept;
        seen = seen || obs;
        return seen && g.enough(p) ? s : nan_of<double>();
    }
};

// The mean as the ratio of the decayed sum to the decayed count. A NaN
// position leaves the mean as it was (both decay alike), and before the first
// value it is NaN (0 / 0).
struct exp_mean {
    exp_weight g;
    double num = 0;
    double den = 0;
    double mean = nan_of<double>();
    double step(double x, const exp_params &p) {
        const bool obs = x == x;
        g.step(obs, p);
        const double kept = p.full ? 0.0 : num * p.decay;
        num = obs ? kept + x : kept;
        den = den * p.decay + (obs ? 1.0 : 0.0);
        const double q = num / den;
        mean = obs ? q : mean;
        return g.enough(p) ? mean : nan_of<double>();
    }
};

// Weighted Welford: with W the decayed count including the new value and
// r = 1 / W, the mean moves by r * delta and the biased variance becomes
// (1 - r) * (var + r * delta^2); both stay put at NaN positions. While an
// infinity is among the values the variance is NaN. The unbiased
// variance scales it by W^2 / (W^2 - W2), W2 the decayed sum of squared
// weights (pandas' bias correction); no positive divisor gives NaN.
template <bool Root>
struct exp_var {
    exp_weight g;
    double W = 0;
    double W2 = 0;
    double mean = 0;
    double var = 0;
    double step(double x, const exp_params &p) {
        const bool obs = x == x;
        g.step(obs, p);
        const double old = W * p.decay;
        W2 = W2 * p.decay2 + (obs ? 1.0 : 0.0);
        if (obs) {
            W = old + 1.0;
            const double r = 1.0 / W;
            const double delta = x - mean;
            // The first value (old == 0) is the mean, exactly, with variance 0.
            // (1 - r) * (var + r * delta^2) as (1 - r) * var + r * delta * (x - new
            // mean), Welford's form, which makes NaN of an infinity's variance.
            const double next = mean + r * delta;
            var = old == 0.0 ? 0.0 : (old * r) * var + r * delta * (x - next);
            mean = old == 0.0 ? x : next;
        } else {
            W = old;
        }
        const double num = W * W;
        const double den = num - W2;
        if (!(den > 0.0) || !g.enough(p)) {
            return nan_of<double>();
        }
        const double v = (num / den) * var;
        if constexpr (Root) {
            return std::sqrt(v);
        } else {
            return v;
        }
    }
};

template <class Stat, class T>
void exp_slice(const move_slice<T> &s, const exp_params &p) {
    using O = move_out<T>;
    Stat st{};
    for (npy_intp i = 0; i < s.n; i++) {
        s.y(i) = static_cast<O>(st.step(static_cast<double>(s.x(i)), p));
    }
}

// Slices side by side, one position of every lane after another (see
// move_lanes).
template <class Stat, class T>
void exp_lanes(const move_lanes<T> &s, const exp_params &p) {
    using O = move_out<T>;
    Stat st[lane_block] = {};
    for (npy_intp i = 0; i < s.n; i++) {
        for (npy_intp l = 0; l < s.count; l++) {
            s.y(l, i) = static_cast<O>(st[l].step(static_cast<double>(s.x(l, i)), p));
        }
    }
}

template <class Stat, class T>
PyObject *exp_axis(PyArrayObject *a, int axis, double alpha, double min_weight) {
    const exp_params p{alpha, 1.0 - alpha, (1.0 - alpha) * (1.0 - alpha), min_weight,
                       alpha == 1.0};
    py_ref out = py_ref::steal(PyArray_Empty(PyArray_NDIM(a), PyArray_SHAPE(a),
                                             PyArray_DescrFromType(out_typenum<move_out<T>>), 0));
    if (!out) {
        return nullptr;
    }
    pair_iter it;
    pair_iter_init(it, a, out.array(), axis);
    gil_released nogil(worth_releasing(PyArray_SIZE(a)));
    if (lanes_pay(it)) {
        const int last = it.outer_last;
        const npy_intp lanes = it.outer_extent[last];
        const npy_intp in_lane = it.in_outer_stride[last];
        const npy_intp out_lane = it.out_outer_stride[last];
        it.outer_last = last - 1;
        it.slice_count /= lanes;
        while (it.more()) {
            for (npy_intp c = 0; c < lanes; c += lane_block) {
                const npy_intp count = lanes - c < lane_block ? lanes - c : lane_block;
                const move_lanes<T> s{it.in_ptr + c * in_lane, it.in_step, in_lane,
                                      it.out_ptr + c * out_lane, it.out_step, out_lane,
                                      it.axis_length, count};
                exp_lanes<Stat>(s, p);
            }
            it.next();
        }
    } else {
        while (it.more()) {
            const move_slice<T> s{it.in_ptr, it.in_step, it.out_ptr, it.out_step,
                                  it.axis_length};
            exp_slice<Stat>(s, p);
            it.next();
        }
    }
    return out.release();
}

template <class T>
inline constexpr exp_kernel move_exp_nancount_axis = exp_axis<exp_count, T>;
template <class T>
inline constexpr exp_kernel move_exp_nansum_axis = exp_axis<exp_sum, T>;
template <class T>
inline constexpr exp_kernel move_exp_nanmean_axis = exp_axis<exp_mean, T>;
template <class T>
inline constexpr exp_kernel move_exp_nanvar_axis = exp_axis<exp_var<false>, T>;
template <class T>
inline constexpr exp_kernel move_exp_nanstd_axis = exp_axis<exp_var<true>, T>;

}  // namespace corvane
