// move_var and move_std: Welford's running mean and sum of squared
// deviations, one value added at a time while the window fills, then one
// value replaced by another per step.
//
// Kernels: move_var_axis_f64 .. move_var_axis_i32, move_std_axis_f64 ..
// move_std_axis_i32 (the instances of move_var_axis<T> and move_std_axis<T>
// for double, float, int64_t, int32_t).
//
// The state is float64 for every element type: float32 values are widened as
// they are read and each output is rounded once to float32, so a float32
// result is the float64 result of the same values, rounded.
//
// Float kernels keep infinities out of the running state and count them:
// while one is in the window the output is NaN (as the variance of such a
// window is), and once it has left the outputs are those of the finite
// values again. For finite data the state is updated exactly as plain
// Welford updates would, with three exceptions that only remove rounding
// residue or a broken state: a window left with one finite value holds
// exactly that value and no spread; a window left with none starts afresh;
// and a state that overflowed is rebuilt from the window's values once no
// infinity is in the window. Where N - ddof <= 0 the output is NaN.
#pragma once

#include <cmath>

#include "move/kernel_frame.hpp"

namespace corvane {

// 1 / (k - shift) for k = 0 .. window, NaN where k - shift <= 0 (no divisor).
inline void fill_divisor_reciprocals(double *table, npy_intp window, npy_intp shift) {
    for (npy_intp k = 0; k <= window; k++) {
        const npy_intp dof = k - shift;
        table[k] = dof > 0 ? 1.0 / static_cast<double>(dof) : nan_of<double>();
    }
}

inline bool both_finite(double a, double b) { return (a - a) + (b - b) == 0.0; }

template <class T, bool Std>
struct running_var {
    using O = move_out<T>;

    double mean = 0;
    double ssq = 0;      // sum of squared deviations from the mean
    npy_intp count = 0;  // finite values in the state (the position, for integers)
    npy_intp inf = 0;    // infinities in the window (float inputs)
    double recip = 0;                    // 1 / count
    double recip_dof = 0;                // 1 / (count - ddof), NaN without a divisor
    const double *recips = nullptr;      // float kernels: 1 / k for k = 0 .. window
    const double *recips_dof = nullptr;  // float kernels: 1 / (k - ddof) likewise
    npy_intp window = 0;
    npy_intp ddof = 0;
    bool broken = false;  // the state overflowed since it was last exact

    void init(const move_params &p, void *scratch) {
        recips = static_cast<const double *>(scratch);
        recips_dof = recips == nullptr ? nullptr : recips + p.window + 1;
        window = p.window;
        ddof = p.ddof;
    }

    static O finish(double v) {
        if constexpr (Std) {
            return static_cast<O>(std::sqrt(v));
        } else {
            return static_cast<O>(v);
        }
    }

    void clamp() {
        if (ssq < 0) {
            ssq = 0;
        }
    }

    void add(double v) {
        if constexpr (is_float<T>) {
            if (!is_finite_value(v)) {
                inf += !is_nan(v);
                return;
            }
        }
        count++;
        const double d = v - mean;
        mean = mean + d / static_cast<double>(count);
        ssq = ssq + (v - mean) * d;
    }

    // The fill phase divides; N - ddof <= 0 has no divisor.
    double fill_raw(npy_intp m) {
        if constexpr (is_float<T>) {
            if (count + inf < m) {
                return nan_of<double>();
            }
            clamp();
            if (inf != 0) {
                return nan_of<double>();
            }
        }
        const npy_intp dof = count - ddof;
        return dof > 0 ? ssq / static_cast<double>(dof) : nan_of<double>();
    }

    // From the tables, without a division's latency where the count changes.
    void set_recips() {
        recip = recips[count];
        recip_dof = recips_dof[count];
    }

    void start_steady() {
        if constexpr (is_float<T>) {
            set_recips();
        } else {
            recip = 1.0 / static_cast<double>(window);
            recip_dof =
                window > ddof ? 1.0 / static_cast<double>(window - ddof) : nan_of<double>();
        }
    }

    // Both values finite: the entering one takes the leaving one's place.
    void replace(double a, double b) {
        const double d = a - b;
        const double m0 = mean;
        const double m1 = m0 + recip * d;
        mean = m1;
        ssq = ssq + ((a - m1) + (b - m0)) * d;
    }

    // The window's one finite value is exactly the mean, with no spread.
    void hold_one(double v) {
        mean = v;
        ssq = 0;
        broken = false;
    }

    // Both finite, the count unchanged.
    void pair(double a, double b) {
        if (count == 1) [[unlikely]] {
            hold_one(a);
        } else {
            replace(a, b);
        }
    }

    // Every other step of a float kernel: a value enters or leaves alone,
    // neither is finite, or the difference of two finite values overflowed.
    // x(k) reads position k of the slice; j is the entering position.
    template <class X>
    void event(const X &x, npy_intp j, double a, double b) {
        const bool fa = is_finite_value(a);
        const bool fb = is_finite_value(b);
        if (fa && fb) {
            pair(a, b);
            return;
        }
        inf += static_cast<npy_intp>(!fa && !is_nan(a)) - (!fb && !is_nan(b));
        if (fa) {
            count++;
            set_recips();
            const double m0 = mean;
            const double e = a - m0;
            const double m1 = m0 + recip * e;
            mean = m1;
            ssq = ssq + (a - m1) * e;
        } else if (fb) {
            count--;
            set_recips();
            if (count == 0) {
                mean = 0;
                ssq = 0;
                broken = false;
            } else if (count == 1) {
                // The one left is the newest finite value in the window.
                npy_intp k = j - 1;
                while (!is_finite_value(static_cast<double>(x(k)))) {
                    k--;
                }
                hold_one(static_cast<double>(x(k)));
            } else {
                const double m0 = mean;
                const double e = b - m0;
                const double m1 = m0 - recip * e;
                mean = m1;
                ssq = ssq - (b - m1) * e;
            }
        }
    }

    bool finite_state() const { return both_finite(mean, ssq); }

    // The state afresh from the values of the window ending at j (O(window),
    // only after an overflow).
    template <class X>
    void rebuild(const X &x, npy_intp j) {
        mean = 0;
        ssq = 0;
        count = 0;
        inf = 0;
        for (npy_intp k = j - window + 1; k <= j; k++) {
            add(static_cast<double>(x(k)));
        }
        set_recips();
        broken = !finite_state();
    }

    // One steady step of a float kernel with every check: x(j) enters,
    // x(j - window) leaves.
    template <class X>
    void step(const X &x, npy_intp j) {
        const double a = x(j);
        const double b = x(j - window);
        if (is_finite_value(a - b)) [[likely]] {
            pair(a, b);
        } else {
            event(x, j, a, b);
        }
        if (!finite_state()) [[unlikely]] {
            broken = true;
        }
        if (broken && inf == 0) [[unlikely]] {
            rebuild(x, j);
        }
    }

    double steady_raw(npy_intp m) {
        if constexpr (is_float<T>) {
            if (count + inf < m) {
                return nan_of<double>();
            }
            clamp();
            if (inf != 0) {
                return nan_of<double>();
            }
            return ssq * recip_dof;
        } else {
            return recip_dof * ssq;
        }
    }

    // The interface of run_phases (integer kernels).
    O fill_value(npy_intp, npy_intp m) { return finish(fill_raw(m)); }
    O steady_value(npy_intp m) { return finish(steady_raw(m)); }
    void swap(double a, double b) {
        replace(a, b);
        clamp();
    }

    // What steady_raw multiplies ssq by (NaN for a NaN output), and whether
    // it clamps ssq first; both change only where the counts do.
    double scale(npy_intp m) const {
        return count + inf >= m && inf == 0 ? recip_dof : nan_of<double>();
    }

    // The steps of positions j0 .. j1-1 of a slice, outputs (before finish)
    // into buf, as step() and steady_raw() give them as long as the state
    // stays finite. Returns false when it did not, with the state spoilt:
    // the caller restores it and takes the careful steps instead.
    bool steady_fast(const move_slice<T> &s, npy_intp j0, npy_intp j1, double *buf,
                     npy_intp m) {
        const auto x = [&s](npy_intp k) { return s.x(k); };
        const npy_intp w = window;
        bool bad = false;
        double q = scale(m);
        bool clamps = count + inf >= m;
        for (npy_intp j = j0; j < j1; j++) {
            const double a = s.x(j);
            const double b = s.x(j - w);
            const double d = a - b;
            if (d - d == 0.0 && count != 1) [[likely]] {
                replace(a, b);
            } else {
                // A reset can make a broken state look finite: look first.
                bad |= !finite_state();
                if (d - d == 0.0) {
                    hold_one(a);
                } else {
                    event(x, j, a, b);
                }
                q = scale(m);
                clamps = count + inf >= m;
            }
            if (ssq < 0 && clamps) [[unlikely]] {
                bad |= !finite_state();
                ssq = 0;
            }
            buf[j - j0] = ssq * q;
        }
        return !bad && finite_state();
    }

    void steady_careful(const move_slice<T> &s, npy_intp j0, npy_intp j1, double *buf,
                        npy_intp m) {
        const auto x = [&s](npy_intp k) { return s.x(k); };
        for (npy_intp j = j0; j < j1; j++) {
            step(x, j);
            buf[j - j0] = steady_raw(m);
        }
    }
};

template <class T, bool Std>
struct move_var_op {
    using in = T;
    using state = running_var<T, Std>;
    using O = move_out<T>;
    static constexpr const char *name = Std ? "move_std" : "move_var";
    static constexpr npy_intp block = 256;

    // Tables of 1 / k and 1 / (k - ddof) for every count k (float inputs).
    static npy_intp scratch_bytes(const move_params &p) {
        return is_float<T> ? 2 * (p.window + 1) * static_cast<npy_intp>(sizeof(double)) : 0;
    }
    static void prepare(const move_params &p, void *scratch) {
        if (scratch != nullptr) {
            double *table = static_cast<double *>(scratch);
            fill_divisor_reciprocals(table, p.window, 0);
            fill_divisor_reciprocals(table + p.window + 1, p.window, p.ddof);
        }
    }
    // One value per window: no spread, whatever the rounding of a running
    // update would leave behind. 0 / (1 - ddof), as the first position of
    // every slice gives.
    static void single(const move_slice<T> &s, const move_params &p) {
        const npy_intp dof = 1 - npy_intp{p.ddof};
        const O zero = dof > 0 ? state::finish(0.0 / static_cast<double>(dof)) : nan_of<O>();
        for (npy_intp i = 0; i < s.n; i++) {
            s.y(i) = is_finite_value(static_cast<double>(s.x(i))) ? zero : nan_of<O>();
        }
    }

    static void fill(state &st, const move_slice<T> &s, const move_params &p) {
        const npy_intp w = p.window < s.n ? p.window : s.n;
        const npy_intp m = p.min_count;
        npy_intp i = 0;
        for (; i < m - 1 && i < w; i++) {
            st.add(static_cast<double>(s.x(i)));
            s.y(i) = nan_of<O>();
        }
        for (; i < w; i++) {
            st.add(static_cast<double>(s.x(i)));
            s.y(i) = state::finish(st.fill_raw(m));
        }
    }

    static void slice(const move_slice<T> &s, const move_params &p, void *scratch) {
        if (p.window == 1) {
            single(s, p);
            return;
        }
        if constexpr (!is_float<T>) {
            run_phases<state>(s, p, scratch);
        } else {
            state st;
            st.init(p, scratch);
            fill(st, s, p);
            if (s.n <= p.window) {
                return;
            }
            st.start_steady();
            double buf[block];
            for (npy_intp j0 = p.window; j0 < s.n; j0 += block) {
                const npy_intp j1 = s.n - j0 < block ? s.n : j0 + block;
                bool done = false;
                if (!st.broken) {
                    const state saved = st;
                    done = st.steady_fast(s, j0, j1, buf, p.min_count);
                    if (!done) {
                        st = saved;
                    }
                }
                if (!done) {
                    st.steady_careful(s, j0, j1, buf, p.min_count);
                }
                if constexpr (Std) {
                    for (npy_intp k = 0; k < j1 - j0; k++) {
                        buf[k] = std::sqrt(buf[k]);
                    }
                }
                for (npy_intp j = j0; j < j1; j++) {
                    s.y(j) = static_cast<O>(buf[j - j0]);
                }
            }
        }
    }

    static void lanes(const move_lanes<T> &s, const move_params &p, void *scratch) {
        if (p.window == 1) {
            for (npy_intp l = 0; l < s.count; l++) {
                single(s.lane(l), p);
            }
            return;
        }
        if constexpr (!is_float<T>) {
            run_phases<state>(s, p, scratch);
        } else {
            // One position of every lane after another, every step careful.
            const npy_intp w = p.window;
            const npy_intp m = p.min_count;
            state st[lane_block];
            for (npy_intp l = 0; l < s.count; l++) {
                st[l].init(p, scratch);
            }
            for (npy_intp i = 0; i < w && i < s.n; i++) {
                for (npy_intp l = 0; l < s.count; l++) {
                    st[l].add(static_cast<double>(s.x(l, i)));
                    s.y(l, i) = i < m - 1 ? nan_of<O>() : state::finish(st[l].fill_raw(m));
                }
            }
            for (npy_intp l = 0; l < s.count; l++) {
                st[l].start_steady();
            }
            for (npy_intp i = w; i < s.n; i++) {
                for (npy_intp l = 0; l < s.count; l++) {
                    st[l].step([&s, l](npy_intp k) { return s.x(l, k); }, i);
                    s.y(l, i) = state::finish(st[l].steady_raw(m));
                }
            }
        }
    }
};

template <class T>
inline constexpr move_kernel move_var_axis = move_run<move_var_op<T, false>>;
template <class T>
inline constexpr move_kernel move_std_axis = move_run<move_var_op<T, true>>;

}  // namespace corvane
