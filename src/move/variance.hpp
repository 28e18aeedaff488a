// move_var and move_std: Welford's running mean and sum of squared
// deviations, one value added at a time while the window fills, then one
// value replaced by another per step.
//
// Kernels: move_var_axis_f64 .. move_var_axis_i32, move_std_axis_f64 ..
// move_std_axis_i32 (the instances of move_var_axis<T> and move_std_axis<T>
// for double, float, int64_t, int32_t).
//
// Float kernels keep infinities out of the running state and count them:
// while one is in the window the output is NaN (as the variance of such a
// window is), and once it has left the outputs are those of the finite
// values again. For finite data the state is updated exactly as plain
// Welford updates would.
#pragma once

#include <cmath>

#include "move/kernel_frame.hpp"

namespace corvane {

template <class T, bool Std>
struct running_var {
    using O = move_out<T>;
    using R = real_of<T>;  // mean, sum of squares and reciprocals

    R mean = 0;
    R ssq = 0;           // sum of squared deviations from the mean
    npy_intp count = 0;  // finite values in the state (the position, for integers)
    npy_intp inf = 0;    // infinities in the window (float inputs)
    R recip = 0;                    // 1 / count
    R recip_dof = 0;                // 1 / (count - ddof)
    const R *recips = nullptr;      // float kernels: 1 / k for k = 0 .. window
    const R *recips_dof = nullptr;  // float kernels: 1 / (k - ddof) likewise
    npy_intp window = 0;
    npy_intp ddof = 0;

    void init(const move_params &p, void *scratch) {
        recips = static_cast<const R *>(scratch);
        recips_dof = recips == nullptr ? nullptr : recips + p.window + 1;
        window = p.window;
        ddof = p.ddof;
    }

    static O finish(R v) {
        if constexpr (Std) {
            return std::sqrt(v);
        } else {
            return v;
        }
    }

    void clamp() {
        if (ssq < 0) {
            ssq = 0;
        }
    }

    void add(T x) {
        if constexpr (is_float<T>) {
            if (!is_finite_value(x)) {
                inf += !is_nan(x);
                return;
            }
        }
        const R v = static_cast<R>(x);
        count++;
        const R d = v - mean;
        mean = mean + d / static_cast<R>(count);
        ssq = ssq + (v - mean) * d;
    }

    O fill_value(npy_intp, npy_intp m) {
        if constexpr (is_float<T>) {
            if (count + inf < m) {
                return nan_of<O>();
            }
            clamp();
            if (inf != 0) {
                return nan_of<O>();
            }
        }
        return finish(ssq / static_cast<R>(count - ddof));
    }

    // From the tables: float64 quotients, rounded to float32 in the float32
    // kernels, without a division's latency where the count changes.
    void set_recips() {
        recip = recips[count];
        recip_dof = recips_dof[count];
    }

    void start_steady() {
        if constexpr (is_float<T>) {
            set_recips();
        } else {
            recip = 1.0 / static_cast<double>(window);
            recip_dof = 1.0 / static_cast<double>(window - ddof);
        }
    }

    // Both values finite: the entering one takes the leaving one's place.
    void replace(R a, R b) {
        const R d = a - b;
        const R m0 = mean;
        const R m1 = m0 + recip * d;
        mean = m1;
        ssq = ssq + ((a - m1) + (b - m0)) * d;
    }

    void swap(T a, T b) {
        if constexpr (is_float<T>) {
            if (is_finite_value(a - b)) [[likely]] {  // both finite
                replace(a, b);
                return;
            }
            const bool fa = is_finite_value(a);
            const bool fb = is_finite_value(b);
            if (fa && fb) {
                replace(a, b);  // the difference overflowed
                return;
            }
            inf += static_cast<npy_intp>(!fa && !is_nan(a)) - (!fb && !is_nan(b));
            if (fa) {
                count++;
                set_recips();
                const R m0 = mean;
                const R e = a - m0;
                const R m1 = m0 + recip * e;
                mean = m1;
                ssq = ssq + (a - m1) * e;
            } else if (fb) {
                count--;
                set_recips();
                if (count <= 0) {
                    // Nothing finite left: start afresh.
                    mean = 0;
                    ssq = 0;
                } else {
                    const R m0 = mean;
                    const R e = b - m0;
                    const R m1 = m0 - recip * e;
                    mean = m1;
                    ssq = ssq - (b - m1) * e;
                }
            }
        } else {
            replace(static_cast<double>(a), static_cast<double>(b));
            clamp();
        }
    }

    O steady_value(npy_intp m) {
        if constexpr (is_float<T>) {
            if (count + inf < m) {
                return nan_of<O>();
            }
            clamp();
            if (inf != 0) {
                return nan_of<O>();
            }
            return finish(ssq * recip_dof);
        } else {
            return finish(recip_dof * ssq);
        }
    }
};

template <class T, bool Std>
struct move_var_op {
    using in = T;
    using R = real_of<T>;
    static constexpr const char *name = Std ? "move_std" : "move_var";

    // Tables of 1 / k and 1 / (k - ddof) for every count k (float inputs).
    static npy_intp scratch_bytes(const move_params &p) {
        return is_float<T> ? 2 * (p.window + 1) * static_cast<npy_intp>(sizeof(R)) : 0;
    }
    static void prepare(const move_params &p, void *scratch) {
        if (scratch != nullptr) {
            R *table = static_cast<R *>(scratch);
            fill_reciprocals(table, p.window, 0);
            fill_reciprocals(table + p.window + 1, p.window, p.ddof);
        }
    }
    // One value per window: no spread, whatever the rounding of a running
    // update would leave behind. 0 / (1 - ddof), as the first position of
    // every slice gives.
    static void single(const move_slice<T> &s, const move_params &p) {
        const move_out<T> zero =
            running_var<T, Std>::finish(R(0) / static_cast<R>(1 - npy_intp{p.ddof}));
        for (npy_intp i = 0; i < s.n; i++) {
            s.y(i) = is_finite_value(s.x(i)) ? zero : nan_of<move_out<T>>();
        }
    }

    static void slice(const move_slice<T> &s, const move_params &p, void *scratch) {
        if (p.window == 1) {
            single(s, p);
        } else {
            run_phases<running_var<T, Std>>(s, p, scratch);
        }
    }

    static void lanes(const move_lanes<T> &s, const move_params &p, void *scratch) {
        if (p.window == 1) {
            for (npy_intp l = 0; l < s.count; l++) {
                single(s.lane(l), p);
            }
        } else {
            run_phases<running_var<T, Std>>(s, p, scratch);
        }
    }
};

template <class T>
inline constexpr move_kernel move_var_axis = move_run<move_var_op<T, false>>;
template <class T>
inline constexpr move_kernel move_std_axis = move_run<move_var_op<T, true>>;

}  // namespace corvane
