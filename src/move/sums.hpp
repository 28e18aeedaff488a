// move_sum and move_mean: a running sum updated in constant time per step.
//
// Kernels: move_sum_axis_f64 .. move_sum_axis_i32, move_mean_axis_f64 ..
// move_mean_axis_i32 (the instances of move_sum_axis<T> and move_mean_axis<T>
// for double, float, int64_t, int32_t).
//
// Float kernels keep infinities out of the running sum and count them
// instead: an infinity leaving the window would otherwise leave inf - inf =
// NaN behind for the rest of the slice. While an infinity is in the window
// the output is what IEEE arithmetic gives for that window; for finite data
// the running sum is updated exactly as a plain running sum would be.
#pragma once

#include <cmath>
#include <limits>

#include "move/kernel_frame.hpp"

namespace corvane {

template <class T, bool Mean>
struct running_sum {
    using O = move_out<T>;
    using R = real_of<T>;  // running sum: the input's float type, or float64

    R s = 0;               // sum of the finite values in the window
    npy_intp count = 0;    // non-NaN values in the window (float inputs)
    npy_intp pos_inf = 0;  // +inf in the window
    npy_intp neg_inf = 0;  // -inf in the window
    R recip = 0;                 // mean, steady phase: 1 / count
    const R *recips = nullptr;   // mean, float kernels: 1 / k for k = 0 .. window
    npy_intp window = 0;

    void init(const move_params &p, void *scratch) {
        recips = static_cast<const R *>(scratch);
        window = p.window;
    }

    // Counts an infinity x in (sign +1) or out (sign -1) of the window.
    void tally_inf(T x, npy_intp sign) {
        constexpr T inf = std::numeric_limits<T>::infinity();
        pos_inf += sign & -static_cast<npy_intp>(x == inf);
        neg_inf += sign & -static_cast<npy_intp>(x == -inf);
    }

    static bool is_inf(T x) {
        return std::fabs(x) == std::numeric_limits<T>::infinity();
    }

    void add(T x) {
        if constexpr (is_float<T>) {
            s += x - x == T(0) ? x : T(0);
            count += x == x;
            if (is_inf(x)) [[unlikely]] {
                tally_inf(x, 1);
            }
        } else {
            s += static_cast<double>(x);
        }
    }

    // A value formed from the finite values, with the window's infinities
    // added as IEEE arithmetic would add them.
    O with_infinities(O v) const {
        if constexpr (is_float<T>) {
            if ((pos_inf | neg_inf) != 0) [[unlikely]] {
                constexpr O inf = std::numeric_limits<O>::infinity();
                if (pos_inf != 0) {
                    v += inf;
                }
                if (neg_inf != 0) {
                    v -= inf;
                }
            }
        }
        return v;
    }

    O fill_value(npy_intp i, npy_intp m) const {
        if constexpr (is_float<T>) {
            if (count < m) {
                return nan_of<O>();
            }
            return with_infinities(Mean ? s / static_cast<R>(count) : s);
        } else {
            return Mean ? s / static_cast<double>(i + 1) : s;
        }
    }

    void set_recip() {
        if constexpr (is_float<T>) {
            recip = recips[count];
        } else {
            recip = 1.0 / static_cast<double>(window);
        }
    }

    void start_steady() {
        if constexpr (Mean) {
            set_recip();
        }
    }

    void swap(T a, T b) {
        if constexpr (is_float<T>) {
            // No branch on NaN, as NaNs come with the data: both finite gives
            // s += (a - b); one of them s += a or s += -b (which is s -= b);
            // neither s += +0, which leaves s unchanged (s starts at +0 and
            // so is never -0).
            const step_pair<T> c = classify(a, b);
            s += c.a_finite - c.b_finite;
            count += (c.non_nan & 1) - (c.non_nan >> 1);
            if (c.infinite != 0) [[unlikely]] {
                tally_inf(a, 1);
                tally_inf(b, -1);
            }
        } else {
            s += int_difference(a, b);
        }
    }

    // a - b in float64, exact for int32; for int64 the integer difference
    // where it fits, else the difference of the two converted values.
    static double int_difference(T a, T b) {
        if constexpr (sizeof(T) < sizeof(int64_t)) {
            return static_cast<double>(static_cast<int64_t>(a) - static_cast<int64_t>(b));
        } else {
            T d;
            if (__builtin_sub_overflow(a, b, &d)) {
                return static_cast<double>(a) - static_cast<double>(b);
            }
            return static_cast<double>(d);
        }
    }

    O steady_value(npy_intp m) {
        if constexpr (is_float<T>) {
            if constexpr (Mean) {
                // Looked up at every step: cheaper than a branch on whether
                // the count changed.
                set_recip();
            }
            // + NaN where too few values count, + 0 (no change: the value is
            // never -0) elsewhere.
            static constexpr O pad[2] = {O(0), nan_of<O>()};
            return with_infinities(Mean ? s * recip : s) + pad[count < m];
        } else {
            return Mean ? s * recip : s;
        }
    }
};

template <class T, bool Mean>
struct move_sum_op {
    using in = T;
    using R = real_of<T>;
    static constexpr const char *name = Mean ? "move_mean" : "move_sum";

    // The mean's table of reciprocals (float inputs).
    static npy_intp scratch_bytes(const move_params &p) {
        return Mean && is_float<T> ? (p.window + 1) * static_cast<npy_intp>(sizeof(R)) : 0;
    }
    static void prepare(const move_params &p, void *scratch) {
        if (scratch != nullptr) {
            fill_reciprocals(static_cast<R *>(scratch), p.window, 0);
        }
    }
    // Every window is one value: the output is the value itself (NaN
    // included), without the rounding of a running update.
    static void copy(const move_slice<T> &s) {
        for (npy_intp i = 0; i < s.n; i++) {
            s.y(i) = static_cast<move_out<T>>(s.x(i));
        }
    }

    static void slice(const move_slice<T> &s, const move_params &p, void *scratch) {
        if (p.window == 1) {
            copy(s);
        } else {
            run_phases<running_sum<T, Mean>>(s, p, scratch);
        }
    }

    static void lanes(const move_lanes<T> &s, const move_params &p, void *scratch) {
        if (p.window == 1) {
            for (npy_intp l = 0; l < s.count; l++) {
                copy(s.lane(l));
            }
        } else {
            run_phases<running_sum<T, Mean>>(s, p, scratch);
        }
    }
};

template <class T>
inline constexpr move_kernel move_sum_axis = move_run<move_sum_op<T, false>>;
template <class T>
inline constexpr move_kernel move_mean_axis = move_run<move_sum_op<T, true>>;

}  // namespace corvane
