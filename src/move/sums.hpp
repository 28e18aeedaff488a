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

#include <limits>

#include "move/kernel_frame.hpp"

namespace corvane {

template <class T, bool Mean>
struct running_sum {
    using O = move_out<T>;
    using R = real_of<T>;  // running sum: the input's float type, or float64

    R s = 0;
    npy_intp count = 0;  // non-NaN values in the window (float inputs)
    npy_intp pos_inf = 0;
    npy_intp neg_inf = 0;
    R recip = 0;  // mean, steady phase: 1 / count
    npy_intp window;

    explicit running_sum(const move_params &p) : window(p.window) {}

    void add(T x) {
        if constexpr (is_float<T>) {
            if (is_finite_value(x)) {
                s += x;
                count++;
            } else {
                count_special(x, 1);
            }
        } else {
            s += static_cast<double>(x);
        }
    }

    // +1 when x enters, -1 when it leaves; NaN changes nothing.
    void count_special(T x, npy_intp sign) {
        if (x == std::numeric_limits<T>::infinity()) {
            pos_inf += sign;
            count += sign;
        } else if (x == -std::numeric_limits<T>::infinity()) {
            neg_inf += sign;
            count += sign;
        }
    }

    // Adds the window's infinities to a value formed from the finite ones.
    O with_infinities(O v) const {
        if constexpr (is_float<T>) {
            if ((pos_inf | neg_inf) != 0) {
                if (pos_inf != 0) {
                    v += std::numeric_limits<O>::infinity();
                }
                if (neg_inf != 0) {
                    v -= std::numeric_limits<O>::infinity();
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
            // float32: the reciprocal is formed in float64, then rounded.
            recip = static_cast<R>(1.0 / static_cast<double>(count));
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
            const T d = a - b;
            if (d - d == T(0)) {  // both finite
                s += d;
                return;
            }
            const npy_intp before = count;
            const bool fa = is_finite_value(a);
            const bool fb = is_finite_value(b);
            if (fa && fb) {
                s += d;  // the difference overflowed; as a plain running sum does
                return;
            }
            if (fa) {
                s += a;
                count++;
            } else {
                count_special(a, 1);
            }
            if (fb) {
                s -= b;
                count--;
            } else {
                count_special(b, -1);
            }
            if constexpr (Mean) {
                if (count != before) {
                    set_recip();
                }
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

    O steady_value(npy_intp m) const {
        if constexpr (is_float<T>) {
            if (count < m) {
                return nan_of<O>();
            }
            return with_infinities(Mean ? s * recip : s);
        } else {
            return Mean ? s * recip : s;
        }
    }
};

template <class T, bool Mean>
struct move_sum_op {
    using in = T;
    static void slice(const move_slice<T> &s, const move_params &p, void *) {
        if (p.window == 1) {
            // Every window is one value: the output is the value itself (NaN
            // included), without the rounding of a running update.
            for (npy_intp i = 0; i < s.n; i++) {
                s.y(i) = static_cast<move_out<T>>(s.x(i));
            }
            return;
        }
        run_phases<running_sum<T, Mean>>(s, p);
    }
};

template <class T>
inline constexpr move_kernel move_sum_axis = move_run<move_sum_op<T, false>>;
template <class T>
inline constexpr move_kernel move_mean_axis = move_run<move_sum_op<T, true>>;

}  // namespace corvane
