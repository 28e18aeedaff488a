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
};

// Each statistic has
//
//   template <bool Full, bool Gate> double step(double x, const exp_params &);
//
// which takes the next value and returns the output at its position, and the
// linear ones also
//
//   template <bool Gate> void step2(double x0, double x1, const exp_params &,
//                                   double &y0, double &y1);
//
// which takes two: s1 = s * decay^2 + (u0 * decay + u1) advances the state
// by two positions with one multiplication and one addition on the chain
// from s to s1 (s0 = s * decay + u0 is off it), so a long slice is not held
// to the latency of one multiply-add per value. Full (alpha = 1) has no
// memory: the state is the newest value's alone, and no product with the
// zero decay is formed. Gate (min_weight > 0) keeps the decayed weight; a
// weight is never negative, so without a positive min_weight every position
// passes.

// Two steps of s = s * decay + u at once (see step2 above): returns the
// state after u0 and leaves the one after u1 in s.
[[gnu::always_inline]] inline double decayed2(double &s, double u0, double u1,
                                              const exp_params &p) {
    const double s0 = s * p.decay + u0;
    s = s * p.decay2 + (u0 * p.decay + u1);
    return s0;
}

// Two positions as a step2 sees them: whether each holds a value, and (with a
// gate) the gate's weight at each.
struct exp_pair {
    bool obs0;
    bool obs1;
    double w0 = 0;
    double w1 = 0;
};

// The gate: alpha times the decayed count of the non-NaN values.
struct exp_gate {
    double w = 0;
    double step(bool obs, const exp_params &p) {
        w = w * p.decay + (obs ? p.alpha : 0.0);
        return w;
    }
    template <bool Gate>
    [[gnu::always_inline]] exp_pair observe2(double x0, double x1, const exp_params &p) {
        exp_pair o{x0 == x0, x1 == x1};
        if constexpr (Gate) {
            o.w0 = decayed2(w, o.obs0 ? p.alpha : 0.0, o.obs1 ? p.alpha : 0.0, p);
            o.w1 = w;
        }
        return o;
    }
};

template <bool Gate>
inline double gated(double v, double w, const exp_params &p) {
    if constexpr (Gate) {
        return w >= p.min_weight ? v : nan_of<double>();
    } else {
        return v;
    }
}

// One step of s = s * decay + u, or s = u without memory.
template <bool Full>
inline double decayed(double s, double u, const exp_params &p) {
    if constexpr (Full) {
        return u;
    } else {
        return s * p.decay + u;
    }
}

struct exp_count {
    exp_gate g;
    double c = 0;
    template <bool Full, bool Gate>
    double step(double x, const exp_params &p) {
        const bool obs = x == x;
        const double w = Gate ? g.step(obs, p) : 0.0;
        c = decayed<Full>(c, obs ? 1.0 : 0.0, p);
        return gated<Gate>(c, w, p);
    }
    template <bool Gate>
    void step2(double x0, double x1, const exp_params &p, double &y0, double &y1) {
        const exp_pair o = g.observe2<Gate>(x0, x1, p);
        const double c0 = decayed2(c, o.obs0 ? 1.0 : 0.0, o.obs1 ? 1.0 : 0.0, p);
        y0 = gated<Gate>(c0, o.w0, p);
        y1 = gated<Gate>(c, o.w1, p);
    }
};

// The sum of the weighted values; NaN before the first one.
struct exp_sum {
    exp_gate g;
    double s = 0;
    bool seen = false;
    template <bool Full, bool Gate>
    double step(double x, const exp_params &p) {
        const bool obs = x == x;
        const double w = Gate ? g.step(obs, p) : 0.0;
        s = decayed<Full>(s, zero_if_nan(x), p);
        seen = seen || obs;
        return gated<Gate>(seen ? s : nan_of<double>(), w, p);
    }
    template <bool Gate>
    void step2(double x0, double x1, const exp_params &p, double &y0, double &y1) {
        const exp_pair o = g.observe2<Gate>(x0, x1, p);
        const double s0 = decayed2(s, zero_if_nan(x0), zero_if_nan(x1), p);
        const bool seen0 = seen || o.obs0;
        seen = seen0 || o.obs1;
        y0 = gated<Gate>(seen0 ? s0 : nan_of<double>(), o.w0, p);
        y1 = gated<Gate>(seen ? s : nan_of<double>(), o.w1, p);
    }
};

// The mean as the ratio of the decayed sum to the decayed count. A NaN
// position leaves the mean as it was (both decay alike), and before the first
// value it is NaN (0 / 0).
struct exp_mean {
    exp_gate g;
    double num = 0;
    double den = 0;
    double mean = nan_of<double>();
    template <bool Full, bool Gate>
    double step(double x, const exp_params &p) {
        const bool obs = x == x;
        const double w = Gate ? g.step(obs, p) : 0.0;
        num = decayed<Full>(num, zero_if_nan(x), p);
        den = decayed<Full>(den, obs ? 1.0 : 0.0, p);
        const double q = num / den;
        mean = obs ? q : mean;
        return gated<Gate>(mean, w, p);
    }
    template <bool Gate>
    void step2(double x0, double x1, const exp_params &p, double &y0, double &y1) {
        const exp_pair o = g.observe2<Gate>(x0, x1, p);
        const double num0 = decayed2(num, zero_if_nan(x0), zero_if_nan(x1), p);
        const double den0 = decayed2(den, o.obs0 ? 1.0 : 0.0, o.obs1 ? 1.0 : 0.0, p);
        const double q0 = num0 / den0;
        const double q1 = num / den;
        const double mean0 = o.obs0 ? q0 : mean;
        mean = o.obs1 ? q1 : mean0;
        y0 = gated<Gate>(mean0, o.w0, p);
        y1 = gated<Gate>(mean, o.w1, p);
    }
};

// Weighted Welford: with W the decayed count including the new value and
// r = 1 / W, the mean moves by r * delta and the biased variance becomes
// (1 - r) * (var + r * delta^2); both stay put at NaN positions. While an
// infinity is among the values the variance is NaN. The unbiased variance
// scales it by W^2 / (W^2 - W2), W2 the decayed sum of squared weights
// (pandas' bias correction); no positive divisor gives NaN, as with alpha = 1
// (Full needs nothing of its own here: every divisor is then 0). One value
// has no spread to estimate: until a second value joins it the output is NaN,
// even where W^2 - W2 of a lone, decayed weight rounds to a tiny positive
// number instead of to 0.
template <bool Root>
struct exp_var {
    exp_gate g;
    double W = 0;
    double W2 = 0;
    double mean = 0;
    double var = 0;
    bool spread = false;  // two values or more since the last fresh start
    template <bool Full, bool Gate>
    double step(double x, const exp_params &p) {
        const bool obs = x == x;
        const double w = Gate ? g.step(obs, p) : 0.0;
        const double u = obs ? 1.0 : 0.0;
        const double old = W * p.decay;
        W2 = W2 * p.decay2 + u;
        W = old + u;
        const double num = W * W;
        const double den = num - W2;
        // One division gives both r = 1 / W and num / den (the divider, which
        // square roots share, is the bottleneck here). Computed at every
        // position and kept only at a value: selects, not branches, as NaN
        // comes with the data.
        const double inv = 1.0 / (W * den);
        const double r = den * inv;
        const double delta = x - mean;
        const double next = mean + r * delta;
        // (1 - r) * (var + r * delta^2) in Welford's form, (1 - r) * var +
        // r * delta * (x - new mean), which makes NaN of an infinity. The
        // first value (no divisor yet: W = W2 = 1) is the mean, exactly, with
        // variance 0; so is a value after a NaN run so long that the old
        // weights are lost below the new one.
        const bool first = !(den > 0.0);
        const double nvar = first ? 0.0 : (old * r) * var + r * delta * (x - next);
        const double nmean = first ? x : next;
        var = obs ? nvar : var;
        mean = obs ? nmean : mean;
        spread = obs ? !first : spread;
        const double v = den > 0.0 && spread ? (num * W * inv) * var : nan_of<double>();
        if constexpr (Root) {
            return gated<Gate>(std::sqrt(v), w, p);
        } else {
            return gated<Gate>(v, w, p);
        }
    }
};

template <class Stat, bool Full, bool Gate, class T>
void exp_slice(const move_slice<T> &s, const exp_params &p) {
    using O = move_out<T>;
    Stat st{};
    npy_intp i = 0;
    if constexpr (!Full && requires(double y) { st.template step2<Gate>(0.0, 0.0, p, y, y); }) {
        for (; i + 1 < s.n; i += 2) {
            double y0, y1;
            st.template step2<Gate>(static_cast<double>(s.x(i)), static_cast<double>(s.x(i + 1)),
                                    p, y0, y1);
            s.y(i) = static_cast<O>(y0);
            s.y(i + 1) = static_cast<O>(y1);
        }
    }
    for (; i < s.n; i++) {
        s.y(i) = static_cast<O>(st.template step<Full, Gate>(static_cast<double>(s.x(i)), p));
    }
}

// Slices side by side, one position of every lane after another (see
// move_lanes): the lanes' chains are independent, so one step at a time.
template <class Stat, bool Full, bool Gate, class T>
void exp_lanes(const move_lanes<T> &s, const exp_params &p) {
    using O = move_out<T>;
    Stat st[lane_block] = {};
    for (npy_intp i = 0; i < s.n; i++) {
        for (npy_intp l = 0; l < s.count; l++) {
            s.y(l, i) =
                static_cast<O>(st[l].template step<Full, Gate>(static_cast<double>(s.x(l, i)), p));
        }
    }
}

template <class Stat, bool Full, bool Gate, class T>
void exp_walk(pair_iter &it, const exp_params &p) {
    move_walk<T, lane_block>(
        it, [&p](const move_slice<T> &s) { exp_slice<Stat, Full, Gate>(s, p); },
        [&p](const move_lanes<T> &s) { exp_lanes<Stat, Full, Gate>(s, p); });
}

template <class Stat, class T>
PyObject *exp_axis(PyArrayObject *a, int axis, double alpha, double min_weight) {
    const double d = 1.0 - alpha;
    const exp_params p{alpha, d, d * d, min_weight};
    pair_iter it;
    py_ref out = move_output<move_out<T>>(a, axis, it);
    if (!out) {
        return nullptr;
    }
    gil_released nogil(worth_releasing(PyArray_SIZE(a)));
    const bool full = alpha == 1.0;
    const bool gate = min_weight > 0.0;
    if (full) {
        gate ? exp_walk<Stat, true, true, T>(it, p) : exp_walk<Stat, true, false, T>(it, p);
    } else {
        gate ? exp_walk<Stat, false, true, T>(it, p) : exp_walk<Stat, false, false, T>(it, p);
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
