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
//
// The steady phase of a float slice goes a block of positions at a time, in
// one of three ways that give the same results. Quick steps test only for
// the common step (two finite values taking each other's place) and branch
// for the rest; where values often enter or leave alone (NaN in and out),
// mispredicted branches cost more than a branch-free block that computes
// every case as one (steady_fast). Both look at the end of the block whether
// the state stayed finite; a block where it did not is taken again with
// careful steps, which rebuild an overflowed state.
//
// Sorting a block's steps first (a pass computing counts, reciprocals and
// 1 / count * (a - b), then a loop carrying only mean and ssq that branches
// on the precomputed case, each case with its own latency) was measured
// 1.3-1.5x slower than the quick steps at 10% NaN and 2.8x slower without
// NaN: the sorting pass costs about as much as the steps, and the loop
// still mispredicts at every turn of a NaN.
#pragma once

#include <cmath>

#include "frame/cpu.hpp"
#include "move/kernel_frame.hpp"

namespace corvane {

// The tables of a call, each for the counts k = 0 .. window: 1 / k (0 for
// k = 0, so that a step with no finite value moves nothing), 1 / (k - ddof)
// (NaN where k - ddof <= 0: no divisor), and the latter again where k reaches
// min_count, NaN below.
inline void fill_variance_tables(double *table, npy_intp window, npy_intp ddof,
                                 npy_intp min_count) {
    double *recips = table;
    double *recips_dof = table + window + 1;
    double *scales = table + 2 * (window + 1);
    for (npy_intp k = 0; k <= window; k++) {
        const npy_intp dof = k - ddof;
        recips[k] = k > 0 ? 1.0 / static_cast<double>(k) : 0.0;
        recips_dof[k] = dof > 0 ? 1.0 / static_cast<double>(dof) : nan_of<double>();
        scales[k] = k >= min_count ? recips_dof[k] : nan_of<double>();
    }
}

inline bool both_finite(double a, double b) { return (a - a) + (b - b) == 0.0; }

// The operands of the branch-free steps of one block (see steady_fast),
// from one pass over its values. Masks are kept as doubles' bits.
struct var_ops {
    static constexpr npy_intp size = 256;
    alignas(64) double p[size];      // a - b, or the value moving alone, or 0
    alignas(64) double v[size];      // a, or b when it leaves alone
    alignas(64) double b[size];      // b when finite, else 0
    alignas(64) double alone[size];  // all ones where one value moves alone
    alignas(64) double both[size];   // all ones where both are finite
    alignas(64) double flip[size];   // the sign bit where a value leaves alone
    alignas(64) npy_intp dc[size];   // change of the finite count
    alignas(64) npy_intp di[size];   // change of the infinity count
    npy_intp events = 0;             // steps other than two finite values swapping

    template <class T>
    void fill(const move_slice<T> &s, npy_intp j0, npy_intp n, npy_intp w) {
        events = 0;
#if defined(__SSE2__)
        const __m128d zero = _mm_setzero_pd();
        const __m128d sign = _mm_set1_pd(-0.0);
        npy_intp k = 0;
        for (; k + 2 <= n; k += 2) {
            const npy_intp j = j0 + k;
            const __m128d a = _mm_set_pd(s.x(j + 1), s.x(j));
            const __m128d bb = _mm_set_pd(s.x(j + 1 - w), s.x(j - w));
            const __m128d fa = _mm_cmpeq_pd(_mm_sub_pd(a, a), zero);
            const __m128d fb = _mm_cmpeq_pd(_mm_sub_pd(bb, bb), zero);
            const __m128d ia = _mm_andnot_pd(fa, _mm_cmpord_pd(a, a));
            const __m128d ib = _mm_andnot_pd(fb, _mm_cmpord_pd(bb, bb));
            const __m128d af = _mm_and_pd(fa, a);
            const __m128d bf = _mm_and_pd(fb, bb);
            const __m128d lone = _mm_xor_pd(fa, fb);
            const __m128d vk = _mm_or_pd(af, _mm_andnot_pd(fa, bf));
            const __m128d d = _mm_sub_pd(af, bf);
            _mm_store_pd(p + k, _mm_or_pd(_mm_and_pd(lone, vk), _mm_andnot_pd(lone, d)));
            _mm_store_pd(v + k, vk);
            _mm_store_pd(b + k, bf);
            _mm_store_pd(alone + k, lone);
            const __m128d pair = _mm_and_pd(fa, fb);
            _mm_store_pd(both + k, pair);
            const int pairs = _mm_movemask_pd(pair);
            events += 2 - (pairs & 1) - (pairs >> 1);
            _mm_store_pd(flip + k, _mm_and_pd(_mm_andnot_pd(fa, fb), sign));
            // Masks are -1 where set: a finite entering value adds one.
            _mm_store_si128(reinterpret_cast<__m128i *>(dc + k),
                            _mm_sub_epi64(_mm_castpd_si128(fb), _mm_castpd_si128(fa)));
            _mm_store_si128(reinterpret_cast<__m128i *>(di + k),
                            _mm_sub_epi64(_mm_castpd_si128(ib), _mm_castpd_si128(ia)));
        }
        for (; k < n; k++) {
            one(k, s.x(j0 + k), s.x(j0 + k - w));
        }
#else
        for (npy_intp k = 0; k < n; k++) {
            one(k, s.x(j0 + k), s.x(j0 + k - w));
        }
#endif
    }

    void one(npy_intp k, double a, double bb) {
        constexpr uint64_t ones = ~uint64_t{0};
        constexpr uint64_t sign = uint64_t{1} << 63;
        const bool fa = a - a == 0.0;
        const bool fb = bb - bb == 0.0;
        const double af = fa ? a : 0.0;
        const double bf = fb ? bb : 0.0;
        const bool lone = fa != fb;
        const double vk = fa ? af : bf;
        p[k] = lone ? vk : af - bf;
        v[k] = vk;
        b[k] = bf;
        alone[k] = std::bit_cast<double>(lone ? ones : 0);
        both[k] = std::bit_cast<double>(fa && fb ? ones : 0);
        flip[k] = std::bit_cast<double>(!fa && fb ? sign : 0);
        dc[k] = static_cast<npy_intp>(fa) - static_cast<npy_intp>(fb);
        events += !(fa && fb);
        di[k] = static_cast<npy_intp>(!fa && a == a) - static_cast<npy_intp>(!fb && bb == bb);
    }
};

template <class T, bool Std>
struct running_var {
    using O = move_out<T>;

    double mean = 0;
    double ssq = 0;      // sum of squared deviations from the mean
    npy_intp count = 0;  // finite values in the state (the position, for integers)
    npy_intp inf = 0;    // infinities in the window (float inputs)
    double recip = 0;                    // 1 / count (0 for none)
    double recip_dof = 0;                // 1 / (count - ddof), NaN without a divisor
    const double *recips = nullptr;      // float kernels: 1 / k for k = 0 .. window
    const double *recips_dof = nullptr;  // float kernels: 1 / (k - ddof) likewise
    npy_intp window = 0;
    npy_intp ddof = 0;
    // A reset set an overflowed state outright (steady_quick must not have
    // passed by a rebuild).
    bool overwrote_broken = false;

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

    // The steady phase clamps rounding residue only: an overflowed ssq
    // stays as it is, which is what marks the state for a rebuild.
    void clamp_residue() {
        if (ssq < 0) [[unlikely]] {
            if (is_finite_value(ssq)) {
                ssq = 0;
            }
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
        overwrote_broken |= !is_finite_value(ssq);
        mean = v;
        ssq = 0;
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
#if defined(__SSE2__)
        // Tests of whether each value is finite are left to lone(): those
        // here are as predictable as the data are not.
        if (both_finite(a, b)) [[unlikely]] {
            pair(a, b);
            return;
        }
        constexpr double infinity = std::numeric_limits<double>::infinity();
        inf += static_cast<npy_intp>(std::fabs(a) == infinity) -
               static_cast<npy_intp>(std::fabs(b) == infinity);
        if (count >= 3 || !(is_finite_value(b) && !is_finite_value(a))) [[likely]] {
            lone(a, b);
            return;
        }
#endif
        const bool fa = is_finite_value(a);
        const bool fb = is_finite_value(b);
        if (fa && fb) {
            pair(a, b);
            return;
        }
#if !defined(__SSE2__)
        inf += static_cast<npy_intp>(!fa && !is_nan(a)) - (!fb && !is_nan(b));
#endif
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
            if (count >= 2) [[likely]] {
                const double m0 = mean;
                const double e = b - m0;
                const double m1 = m0 - recip * e;
                mean = m1;
                ssq = ssq - (b - m1) * e;
            } else if (count == 0) {
                overwrote_broken |= !is_finite_value(ssq);
                mean = 0;
                ssq = 0;
            } else {
                // The one left is the newest finite value in the window.
                npy_intp k = j - 1;
                while (!is_finite_value(static_cast<double>(x(k)))) {
                    k--;
                }
                hold_one(static_cast<double>(x(k)));
            }
        }
    }

    bool finite_state() const { return both_finite(mean, ssq); }

#if defined(__SSE2__)
    // A value entering alone, one leaving alone with at least two finite
    // values staying, or neither finite: the branches of event() as one, so
    // that whether a value is NaN costs no second mispredicted branch.
    // Masks choose the operands, each case's operations unchanged (as in
    // steady_fast): e = a - m0, b - m0 or -0 (with neither, the mean gains
    // r * -0: exactly nothing, and ssq is kept), r and e negated for a
    // leaving value.
    void lone(double a, double b) {
        const __m128d zero = _mm_setzero_pd();
        const __m128d sign = _mm_set_sd(-0.0);
        const __m128d av = _mm_set_sd(a);
        const __m128d bv = _mm_set_sd(b);
        const __m128d fa = _mm_cmpeq_sd(_mm_sub_sd(av, av), zero);
        const __m128d fb = _mm_cmpeq_sd(_mm_sub_sd(bv, bv), zero);
        const __m128d one = _mm_xor_pd(fa, fb);
        const __m128d flip = _mm_and_pd(_mm_andnot_pd(fa, fb), sign);
        const __m128d v = _mm_or_pd(_mm_and_pd(fa, av), _mm_andnot_pd(fa, _mm_and_pd(fb, bv)));
        const __m128d m0 = _mm_set_sd(mean);
        const __m128d q0 = _mm_set_sd(ssq);
        count += _mm_cvtsi128_si32(_mm_castpd_si128(fb)) - _mm_cvtsi128_si32(_mm_castpd_si128(fa));
        set_recips();
        const __m128d e =
            _mm_or_pd(_mm_and_pd(one, _mm_sub_sd(v, m0)), _mm_andnot_pd(one, sign));
        const __m128d m1 = _mm_add_sd(m0, _mm_mul_sd(_mm_xor_pd(_mm_set_sd(recip), flip), e));
        const __m128d q1 = _mm_add_sd(q0, _mm_mul_sd(_mm_sub_sd(v, m1), _mm_xor_pd(e, flip)));
        mean = _mm_cvtsd_f64(m1);
        ssq = _mm_cvtsd_f64(_mm_or_pd(_mm_and_pd(one, q1), _mm_andnot_pd(one, q0)));
    }
#endif

    // The state afresh from the values of the window ending at j (O(window),
    // only after an overflow).
    template <class X>
    void rebuild(const X &x, npy_intp j) {
        mean = 0;
        ssq = 0;
        count = 0;
        inf = 0;
        for (npy_intp k = j - window + 1; k <= j; k++) {
            add(widen(x(k)));
        }
        set_recips();
    }

    // One steady step of a float kernel with every check: x(j) enters,
    // x(j - window) leaves. Returns whether it was other than two finite
    // values taking each other's place. (A mean that stops being finite
    // takes ssq with it in the same step, so ssq alone is looked at.)
    template <class X>
    bool step(const X &x, npy_intp j) {
        const double a = x(j);
        const double b = x(j - window);
        const bool common = is_finite_value(a - b);
        if (common) [[likely]] {
            pair(a, b);
        } else {
            event(x, j, a, b);
        }
        if (!is_finite_value(ssq)) [[unlikely]] {
            if (inf == 0) {
                rebuild(x, j);
            }
        }
        return !common;
    }

    double steady_raw(npy_intp m) {
        if constexpr (is_float<T>) {
            if (count + inf < m) {
                return nan_of<double>();
            }
            clamp_residue();
            if (inf != 0) {
                return nan_of<double>();
            }
            return ssq * recip_dof;
        } else {
            return recip_dof * ssq;
        }
    }

    // finish(steady_raw(m)), without finishing the NaN of a window with no
    // output (a square root of it is the same NaN).
    O steady_out(npy_intp m) {
        if constexpr (is_float<T>) {
            if (count + inf < m) {
                return nan_of<O>();
            }
            clamp_residue();
            if (inf != 0) {
                return nan_of<O>();
            }
            return finish(ssq * recip_dof);
        } else {
            return finish(steady_raw(m));
        }
    }

    // The interface of run_phases (integer kernels).
    O fill_value(npy_intp, npy_intp m) { return finish(fill_raw(m)); }
    O steady_value(npy_intp m) { return finish(steady_raw(m)); }
    void swap(double a, double b) {
        replace(a, b);
        clamp();
    }

    // The steps of positions j0 .. j1-1 (at most var_ops::size) of a slice,
    // outputs (before finish) into buf, as step() and steady_raw() give them
    // as long as the state stays finite. Returns false when it did not, with
    // the state spoilt: the caller restores it and takes the careful steps.
    //
    // Whether a value is NaN follows the data, so the four cases of a step
    // (both finite, one entering alone, one leaving alone, neither) are not
    // told apart by branches but computed as one, masks choosing the
    // operands and each case's operations unchanged:
    //   e  = a - b | a - m0 | b - m0 | 0     = p - (m0 & alone)
    //   m1 = m0 + r * e                      (r negated for a leaving value)
    //   ssq += ((v - m1) + z) * e'           (z = b - m0 for a pair, else 0;
    //                                         e' = -e for a leaving value)
    // with v = a, or b when b leaves alone. Negating r and e is exactly
    // m0 - r * e and ssq - (b - m1) * e; adding z = +0 or multiplying by a
    // zero e leaves ssq as it was (ssq is never -0). The operands come from a
    // pass over the block that has no dependence between steps; the rare
    // cases (one or no finite value left, a clamp) branch.
    bool steady_fast(const move_slice<T> &s, npy_intp j0, npy_intp j1, double *__restrict buf,
                     npy_intp m, var_ops &ops, const double *scales) {
#if defined(__SSE2__)
        const npy_intp n = j1 - j0;
        ops.fill(s, j0, n, window);
        const __m128d zero = _mm_setzero_pd();
        bool bad = false;
        __m128d mv = _mm_set_sd(mean);
        __m128d qv = _mm_set_sd(ssq);
        npy_intp c = count;
        npy_intp f = inf;
        for (npy_intp k = 0; k < n; k++) {
            c += ops.dc[k];
            f += ops.di[k];
            const __m128d flip = _mm_load_sd(ops.flip + k);
            const __m128d r = _mm_xor_pd(_mm_load_sd(recips + c), flip);
            const __m128d e = _mm_sub_sd(_mm_load_sd(ops.p + k),
                                         _mm_and_pd(mv, _mm_load_sd(ops.alone + k)));
            const __m128d m1 = _mm_add_sd(mv, _mm_mul_sd(r, e));
            const __m128d z =
                _mm_and_pd(_mm_sub_sd(_mm_load_sd(ops.b + k), mv), _mm_load_sd(ops.both + k));
            const __m128d x1 = _mm_add_sd(_mm_sub_sd(_mm_load_sd(ops.v + k), m1), z);
            qv = _mm_add_sd(qv, _mm_mul_sd(x1, _mm_xor_pd(e, flip)));
            mv = m1;
            if (c <= 1) [[unlikely]] {
                // One or no finite value left: the state is set outright.
                mean = _mm_cvtsd_f64(mv);
                ssq = _mm_cvtsd_f64(qv);
                bad |= !finite_state();
                const npy_intp j = j0 + k;
                const double a = s.x(j);
                if (c == 0) {
                    mean = 0;
                    ssq = 0;
                } else if (is_finite_value(a) && is_finite_value(static_cast<double>(s.x(j - window)))) {
                    hold_one(a);
                } else if (!is_finite_value(a) && ops.dc[k] < 0) {
                    npy_intp i = j - 1;
                    while (!is_finite_value(static_cast<double>(s.x(i)))) {
                        i--;
                    }
                    hold_one(static_cast<double>(s.x(i)));
                }
                mv = _mm_set_sd(mean);
                qv = _mm_set_sd(ssq);
            }
            if (_mm_comilt_sd(qv, zero)) [[unlikely]] {
                if (c + f >= m) {
                    mean = _mm_cvtsd_f64(mv);
                    ssq = _mm_cvtsd_f64(qv);
                    bad |= !finite_state();
                    qv = zero;
                }
            }
            buf[k] = _mm_cvtsd_f64(qv) * scales[f == 0 ? c : 0];
        }
        mean = _mm_cvtsd_f64(mv);
        ssq = _mm_cvtsd_f64(qv);
        count = c;
        inf = f;
        set_recips();
        return !bad && finite_state();
#else
        (void)s, (void)j0, (void)j1, (void)buf, (void)m, (void)ops, (void)scales;
        return false;
#endif
    }

    // The steps of positions j0 .. j1-1 as step() and steady_raw() take
    // them, outputs into the slice, for as long as the state stays finite:
    // returns false if it did not (the caller restores the state and takes
    // the careful steps again). `events` counts the steps other than two
    // finite values swapping, in the previous block on entry.
    bool steady_quick(const move_slice<T> &s, npy_intp j0, npy_intp j1, npy_intp m,
                      npy_intp &events) {
        // On a copy that nothing else can reach, the state stays in
        // registers across the stores of the outputs.
        running_var st = *this;
        const auto x = [&s](npy_intp k) { return s.x(k); };
        const bool packed = s.in_step == static_cast<npy_intp>(sizeof(T)) &&
                            s.out_step == static_cast<npy_intp>(sizeof(O));
        // Runs of common steps in a loop of their own pay where they are
        // long: leaving the loop after a short run costs more than the
        // checks it saves.
        const bool runs = events * 32 <= j1 - j0;
        npy_intp moved = 0;
        st.overwrote_broken = false;
        if (runs) {
            npy_intp j = j0;
            while (j < j1) {
                if (st.count >= 2) {
                    j = packed ? st.swaps<true>(s, j, j1, m) : st.swaps<false>(s, j, j1, m);
                    if (j == j1) {
                        break;
                    }
                }
                moved += st.quick_step(x, j);
                s.y(j) = st.steady_out(m);
                j++;
            }
        } else {
            for (npy_intp j = j0; j < j1; j++) {
                moved += st.quick_step(x, j);
                s.y(j) = st.steady_out(m);
            }
        }
        *this = st;
        events = moved;
        return quick_held();
    }

    // The value at p as a double. A float widened by cvtss2sd keeps the
    // rest of its destination register, and with it a dependence on the
    // register's last value, which GCC leaves in place where the register
    // last held the mean: the widening then waits for the previous step.
    // cvtps2pd writes the whole register.
    static double widen(const char *p) { return widen(load<T>(p)); }
    static double widen(T v) {
#if defined(__SSE2__)
        if constexpr (std::is_same_v<T, float>) {
            return _mm_cvtsd_f64(_mm_cvtps_pd(_mm_set_ss(v)));
        }
#endif
        return static_cast<double>(v);
    }

#if defined(__SSE2__)
    // The values at p and after it, widened.
    static __m128d widen2(const char *p) {
        if constexpr (std::is_same_v<T, float>) {
            return _mm_cvtps_pd(
                _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p))));
        } else {
            return _mm_loadu_pd(reinterpret_cast<const double *>(p));
        }
    }

    // Two outputs at p (finished, rounded to the output type).
    static void store2(char *p, __m128d v) {
        if constexpr (Std) {
            v = _mm_sqrt_pd(v);
        }
        if constexpr (std::is_same_v<T, float>) {
            // Eight bytes to a float32 output, aligned to four: an integer
            // store (the double one would claim an alignment of eight).
            _mm_storel_epi64(reinterpret_cast<__m128i *>(p), _mm_castps_si128(_mm_cvtpd_ps(v)));
        } else {
            _mm_storeu_pd(reinterpret_cast<double *>(p), v);
        }
    }
#endif

    // The run of steps from j on where two finite values take each other's
    // place, outputs into the slice, as quick_step() and steady_raw() give
    // them: the counts stay as they are, and with them whether an output is
    // due and its scale. Returns the position of the first other step (or
    // j1). Packed: a contiguous slice whose steps may go two at a time. A
    // loop of its own, so that the common step carries no more than its
    // arithmetic (measured 1.1x faster than the quick steps one by one
    // without NaN; inlined, so that the state stays in registers).
    template <bool Packed>
    [[gnu::always_inline]] npy_intp swaps(const move_slice<T> &s, npy_intp j, npy_intp j1,
                                          npy_intp m) {
        const npy_intp step = Packed ? static_cast<npy_intp>(sizeof(T)) : s.in_step;
        const npy_intp out_step = Packed ? static_cast<npy_intp>(sizeof(O)) : s.out_step;
        const char *in = s.in;
        char *out = s.out;
        const npy_intp back = window * step;
        const bool due = count + inf >= m;
        // ssq * NaN is the NaN steady_raw() gives where no output is due.
        const double scale = due && inf == 0 ? recip_dof : nan_of<double>();
        double m0 = mean;
        double q = ssq;
        const double r = recip;
#if defined(__SSE2__)
        if constexpr (Packed) {
            // Two steps at a time: the loads, the widening, the products
            // off the chains, the output's scaling and its rounding go two
            // to an instruction, which leaves the two adds of each chain as
            // the bound (measured 1.2-1.3x faster than one at a time). Each
            // operation is the one the single step applies. A pair with a
            // value moving alone, or a sum of squares below zero, goes the
            // single way.
            const __m128d zero = _mm_setzero_pd();
            const __m128d rr = _mm_set1_pd(r);
            const __m128d ss = _mm_set1_pd(scale);
            __m128d mv = _mm_set_sd(m0);
            __m128d qv = _mm_set_sd(q);
            for (; j + 2 <= j1; j += 2) {
                const char *p = in + j * step;
                const __m128d a = widen2(p);
                const __m128d b = widen2(p - back);
                const __m128d d = _mm_sub_pd(a, b);
                if (_mm_movemask_pd(_mm_cmpeq_pd(_mm_sub_pd(d, d), zero)) != 3) [[unlikely]] {
                    break;
                }
                // The chains in the low lanes, each step's add on its own.
                const __m128d rd = _mm_mul_pd(rr, d);
                const __m128d m1 = _mm_add_sd(mv, rd);
                const __m128d m2 = _mm_add_sd(m1, _mm_unpackhi_pd(rd, rd));
                const __m128d t = _mm_mul_pd(_mm_add_pd(_mm_sub_pd(a, _mm_unpacklo_pd(m1, m2)),
                                                        _mm_sub_pd(b, _mm_unpacklo_pd(mv, m1))),
                                             d);
                const __m128d q1 = _mm_add_sd(qv, t);
                const __m128d q2 = _mm_add_sd(q1, _mm_unpackhi_pd(t, t));
                const __m128d qq = _mm_unpacklo_pd(q1, q2);
                if (_mm_movemask_pd(_mm_cmplt_pd(qq, zero)) != 0) [[unlikely]] {
                    break;
                }
                mv = m2;
                qv = q2;
                store2(out + j * out_step, _mm_mul_pd(qq, ss));
            }
            m0 = _mm_cvtsd_f64(mv);
            q = _mm_cvtsd_f64(qv);
        }
#endif
        for (; j < j1; j++) {
            const char *p = in + j * step;
            const double a = widen(p);
            const double b = widen(p - back);
            const double d = a - b;
            if (!is_finite_value(d)) [[unlikely]] {
                break;
            }
            const double m1 = m0 + r * d;
            q = q + ((a - m1) + (b - m0)) * d;
            m0 = m1;
            if (q < 0) [[unlikely]] {
                if (due && is_finite_value(q)) {
                    q = 0;
                }
            }
            *reinterpret_cast<O *>(out + j * out_step) = finish(q * scale);
        }
        mean = m0;
        ssq = q;
        return j;
    }

    // One step of steady_quick. Returns whether it was other than two finite
    // values swapping.
    template <class X>
    bool quick_step(const X &x, npy_intp j) {
        const double a = x(j);
        const double b = x(j - window);
        if (is_finite_value(a - b) && count >= 2) [[likely]] {
            replace(a, b);
            return false;
        }
        event(x, j, a, b);
        return true;
    }

    // Whether the quick steps since overwrote_broken was cleared are those of
    // the careful ones.
    bool quick_held() const { return !overwrote_broken && is_finite_value(ssq); }

    // The careful steps of positions j0 .. j1-1, outputs into the slice.
    // Returns how many steps were other than two finite values swapping.
    npy_intp steady_careful(const move_slice<T> &s, npy_intp j0, npy_intp j1, npy_intp m) {
        running_var st = *this;
        const auto x = [&s](npy_intp k) { return s.x(k); };
        npy_intp events = 0;
        for (npy_intp j = j0; j < j1; j++) {
            events += st.step(x, j);
            s.y(j) = finish(st.steady_raw(m));
        }
        *this = st;
        return events;
    }
};

// The steady steps of a block of positions for lanes side by side (a
// window along a non-innermost axis), every lane's state in arrays so that
// each position's steps are one vector loop across the lanes. The four cases
// of a step are computed as one, as in steady_fast: the lanes' chains are
// independent, so the longer one of a value moving alone costs throughput,
// not latency. (A step of no finite value adds e = -0 to the mean: exactly
// nothing.) A block this does not cover (a lane left with fewer than two
// finite values, a state that does not stay finite) is given back for the
// careful steps.
template <class T, bool Std>
struct var_lane_states {
    using state = running_var<T, Std>;
    using O = move_out<T>;
    double mean[lane_block];
    double ssq[lane_block];
    npy_intp count[lane_block];
    npy_intp inf[lane_block];
    double a[lane_block];
    double b[lane_block];
    double r[lane_block];
    double scale[lane_block];
    double out[lane_block];
    npy_intp events = 0;  // steps of the last block other than two finite values swapping

    // Positions i0 .. i1-1 of every lane, from the states st and into them.
    // Returns false, with st untouched, where the block is not covered.
    bool run(const move_lanes<T> &s, npy_intp i0, npy_intp i1, const move_params &p,
             const double *recips, const double *scales, state *st) {
        const npy_intp lanes = s.count;
        const npy_intp w = p.window;
        const npy_intp m = p.min_count;
        npy_intp moved = 0;
        const bool packed_in = s.in_lane == static_cast<npy_intp>(sizeof(T));
        const bool packed_out = s.out_lane == static_cast<npy_intp>(sizeof(O));
        for (npy_intp l = 0; l < lanes; l++) {
            mean[l] = st[l].mean;
            ssq[l] = st[l].ssq;
            count[l] = st[l].count;
            inf[l] = st[l].inf;
        }
        for (npy_intp i = i0; i < i1; i++) {
            if (packed_in) {
                // Neighbouring lanes side by side in memory: rows as arrays.
                T ra[lane_block];
                T rb[lane_block];
                std::memcpy(ra, s.in + i * s.in_step, static_cast<size_t>(lanes) * sizeof(T));
                std::memcpy(rb, s.in + (i - w) * s.in_step,
                            static_cast<size_t>(lanes) * sizeof(T));
                for (npy_intp l = 0; l < lanes; l++) {
                    a[l] = static_cast<double>(ra[l]);
                    b[l] = static_cast<double>(rb[l]);
                }
            } else {
                for (npy_intp l = 0; l < lanes; l++) {
                    a[l] = static_cast<double>(s.x(l, i));
                    b[l] = static_cast<double>(s.x(l, i - w));
                }
            }
            npy_intp few = 0;
            for (npy_intp l = 0; l < lanes; l++) {
                const double x = a[l];
                const double y = b[l];
                const bool fa = x - x == 0.0;
                const bool fb = y - y == 0.0;
                moved += !(fa && fb);
                count[l] += static_cast<npy_intp>(fa) - static_cast<npy_intp>(fb);
                inf[l] += static_cast<npy_intp>(!fa && x == x) -
                          static_cast<npy_intp>(!fb && y == y);
                few |= count[l] <= 1;
            }
            if (few != 0) {
                return false;
            }
            // The table look-ups on their own: a scalar loop, which leaves
            // the others to vector code.
            for (npy_intp l = 0; l < lanes; l++) {
                r[l] = recips[count[l]];
                scale[l] = scales[inf[l] == 0 ? count[l] : 0];
            }
            npy_intp below = 0;
            for (npy_intp l = 0; l < lanes; l++) {
                const double x = a[l];
                const double y = b[l];
                const bool fa = x - x == 0.0;
                const bool fb = y - y == 0.0;
                const double af = fa ? x : 0.0;
                const double bf = fb ? y : 0.0;
                const bool lone = fa != fb;
                const bool pair = fa && fb;
                const bool leaves = !fa && fb;
                const double v = fa ? af : bf;
                const double d = pair ? af - bf : -0.0;
                const double m0 = mean[l];
                const double e = (lone ? v : d) - (lone ? m0 : 0.0);
                const double m1 = m0 + (leaves ? -r[l] : r[l]) * e;
                const double z = pair ? bf - m0 : 0.0;
                const double q = ssq[l] + ((v - m1) + z) * (leaves ? -e : e);
                mean[l] = m1;
                ssq[l] = q;
                below |= q < 0;
                out[l] = q * scale[l];
            }
            if (below != 0) [[unlikely]] {
                // Rounding residue below zero is clamped where an output
                // is due; an overflowed state is not covered.
                for (npy_intp l = 0; l < lanes; l++) {
                    if (ssq[l] < 0 && count[l] + inf[l] >= m) {
                        if (!both_finite(mean[l], ssq[l])) {
                            return false;
                        }
                        ssq[l] = 0;
                        out[l] = 0 * scale[l];
                    }
                }
            }
            if (packed_out) {
                O *row = &s.y(0, i);
                for (npy_intp l = 0; l < lanes; l++) {
                    row[l] = state::finish(out[l]);
                }
            } else {
                for (npy_intp l = 0; l < lanes; l++) {
                    s.y(l, i) = state::finish(out[l]);
                }
            }
        }
        bool finite = true;
        for (npy_intp l = 0; l < lanes; l++) {
            finite &= both_finite(mean[l], ssq[l]);
        }
        if (!finite) {
            return false;
        }
        for (npy_intp l = 0; l < lanes; l++) {
            st[l].mean = mean[l];
            st[l].ssq = ssq[l];
            st[l].count = count[l];
            st[l].inf = inf[l];
            st[l].set_recips();
        }
        events = moved;
        return true;
    }
};

// Rows of common steps for lanes side by side: while every lane's step at
// a position is two finite values taking each other's place, the counts
// stay as they are, and with them whether an output is due and its scale;
// the steps of a position are then one vector loop across the lanes, each
// lane's operations those of quick_step() and steady_raw().
template <class T, bool Std>
struct var_lane_rows {
    using state = running_var<T, Std>;
    using O = move_out<T>;
    double mean[lane_block];
    double ssq[lane_block];
    double r[lane_block];
    double scale[lane_block];  // NaN where no output is due, as steady_raw() gives
    double low[lane_block];    // 0 where an output is due (ssq clamped), else -inf

    // Packed: neighbouring lanes side by side in memory, in and out, so that
    // a position's values are read and written as arrays.
    template <bool Packed>
    npy_intp steps(const move_lanes<T> &s, npy_intp i0, npy_intp i1, npy_intp w) {
        constexpr double inf = std::numeric_limits<double>::infinity();
        const npy_intp lanes = s.count;
        const npy_intp in_lane = Packed ? static_cast<npy_intp>(sizeof(T)) : s.in_lane;
        const npy_intp out_lane = Packed ? static_cast<npy_intp>(sizeof(O)) : s.out_lane;
        npy_intp i = i0;
        for (; i < i1; i++) {
            const char *pa = s.in + i * s.in_step;
            const char *pb = pa - w * s.in_step;
            bool common = true;
            for (npy_intp l = 0; l < lanes; l++) {
                const double d = static_cast<double>(load<T>(pa + l * in_lane)) -
                                 static_cast<double>(load<T>(pb + l * in_lane));
                common &= d - d == 0.0;
            }
            if (!common) {
                break;
            }
            char *py = s.out + i * s.out_step;
            for (npy_intp l = 0; l < lanes; l++) {
                const double x = static_cast<double>(load<T>(pa + l * in_lane));
                const double y = static_cast<double>(load<T>(pb + l * in_lane));
                const double d = x - y;
                const double m0 = mean[l];
                const double m1 = m0 + r[l] * d;
                double q = ssq[l] + ((x - m1) + (y - m0)) * d;
                // Residue below zero, where an output is due (an overflowed
                // sum stays as it is).
                q = q < low[l] && q > -inf ? 0.0 : q;
                mean[l] = m1;
                ssq[l] = q;
                *reinterpret_cast<O *>(py + l * out_lane) = state::finish(q * scale[l]);
            }
        }
        return i;
    }

    // Positions i0 .. from the states st and into them; returns the first
    // position not taken (a step other than a swap in some lane, or i1).
    npy_intp run(const move_lanes<T> &s, npy_intp i0, npy_intp i1, npy_intp m, state *st) {
        const npy_intp lanes = s.count;
        const npy_intp w = st[0].window;
        constexpr double inf = std::numeric_limits<double>::infinity();
        for (npy_intp l = 0; l < lanes; l++) {
            if (st[l].count < 2) {
                return i0;
            }
        }
        for (npy_intp l = 0; l < lanes; l++) {
            const bool due = st[l].count + st[l].inf >= m;
            mean[l] = st[l].mean;
            ssq[l] = st[l].ssq;
            r[l] = st[l].recip;
            scale[l] = due && st[l].inf == 0 ? st[l].recip_dof : nan_of<double>();
            low[l] = due ? 0.0 : -inf;
        }
        const bool packed = s.in_lane == static_cast<npy_intp>(sizeof(T)) &&
                            s.out_lane == static_cast<npy_intp>(sizeof(O));
        const npy_intp i = packed ? steps<true>(s, i0, i1, w) : steps<false>(s, i0, i1, w);
        for (npy_intp l = 0; l < lanes; l++) {
            st[l].mean = mean[l];
            st[l].ssq = ssq[l];
        }
        return i;
    }
};

template <class T, bool Std>
struct move_var_op {
    using in = T;
    using state = running_var<T, Std>;
    using O = move_out<T>;
    static constexpr const char *name = Std ? "move_std" : "move_var";
    static constexpr npy_intp block = var_ops::size;

    // The tables of fill_variance_tables (float inputs).
    static npy_intp scratch_bytes(const move_params &p) {
        return is_float<T> ? 3 * (p.window + 1) * static_cast<npy_intp>(sizeof(double)) : 0;
    }
    static void prepare(const move_params &p, void *scratch) {
        if (scratch != nullptr) {
            fill_variance_tables(static_cast<double *>(scratch), p.window, p.ddof, p.min_count);
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
            st.add(state::widen(s.x(i)));
            s.y(i) = nan_of<O>();
        }
        for (; i < w; i++) {
            st.add(state::widen(s.x(i)));
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
            const double *scales = static_cast<const double *>(scratch) + 2 * (p.window + 1);
            // Steps taken one by one cost little while values seldom move
            // alone and a mispredicted branch each time they do; the
            // branch-free block costs the same whatever the data. Each block
            // goes the way the previous one's share of such steps favours
            // (both give the same results).
            // The first block's share is foreseen from the first window's
            // values that are not finite.
            var_ops ops;
            double buf[block];
            const npy_intp first = block < s.n - p.window ? block : s.n - p.window;
            npy_intp events = 2 * (p.window - st.count) * first / p.window;
            for (npy_intp j0 = p.window; j0 < s.n; j0 += block) {
                const npy_intp j1 = s.n - j0 < block ? s.n : j0 + block;
                if (!is_finite_value(st.ssq)) {
                    events = st.steady_careful(s, j0, j1, p.min_count);
                    continue;
                }
                if (events * 4 <= block) {
                    const state saved = st;
                    if (!st.steady_quick(s, j0, j1, p.min_count, events)) {
                        st = saved;
                        events = st.steady_careful(s, j0, j1, p.min_count);
                    }
                    continue;
                }
                const state saved = st;
                if (!st.steady_fast(s, j0, j1, buf, p.min_count, ops, scales)) {
                    st = saved;
                    events = st.steady_careful(s, j0, j1, p.min_count);
                    continue;
                }
                events = ops.events;
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
        isa_dispatch([&](auto tag) {
            lanes_any(s, p, scratch, decltype(tag)::level != isa::base);
        });
    }

    // `vector`: the lanes' steps may go as vector loops (var_lane_states),
    // which gain on 256- and 512-bit vectors (1.8x with AVX2; with 128-bit
    // ones they were measured 1.4x slower than the quick steps at 10% NaN).
    static void lanes_any(const move_lanes<T> &s, const move_params &p, void *scratch,
                          bool vector) {
        if (p.window == 1) {
            for (npy_intp l = 0; l < s.count; l++) {
                single(s.lane(l), p);
            }
            return;
        }
        if constexpr (!is_float<T>) {
            run_phases<state>(s, p, scratch);
        } else {
            // One position of every lane after another, a block of positions
            // at a time: quick steps, or careful ones where a lane's state
            // did not stay finite.
            const npy_intp w = p.window;
            const npy_intp m = p.min_count;
            const npy_intp lanes = s.count;
            state st[lane_block];
            state saved[lane_block];
            for (npy_intp l = 0; l < lanes; l++) {
                st[l].init(p, scratch);
            }
            // Values moving alone in the first block are foreseen from the
            // share of non-finite values in the first window.
            npy_intp missing = 0;
            for (npy_intp i = 0; i < w && i < s.n; i++) {
                for (npy_intp l = 0; l < lanes; l++) {
                    const double v = state::widen(s.x(l, i));
                    missing += !(v - v == 0.0);
                    st[l].add(v);
                    s.y(l, i) = i < m - 1 ? nan_of<O>() : state::finish(st[l].fill_raw(m));
                }
            }
            for (npy_intp l = 0; l < lanes; l++) {
                st[l].start_steady();
            }
            const double *recips = static_cast<const double *>(scratch);
            const double *scales = recips + 2 * (p.window + 1);
            // The lanes' arrays are allocated here, so that calls without
            // lanes do not pay for them; without the memory, every block
            // takes the steps lane by lane (same results).
            scratch_block arrays;
            var_lane_states<T, Std> *vec =
                vector && arrays.allocate(static_cast<npy_intp>(sizeof(var_lane_states<T, Std>)))
                    ? static_cast<var_lane_states<T, Std> *>(arrays.get())
                    : nullptr;
            npy_intp events = 2 * missing * (block < s.n - w ? block : s.n - w) / w;
            var_lane_rows<T, Std> rows;
            for (npy_intp i0 = w; i0 < s.n; i0 += block) {
                const npy_intp i1 = s.n - i0 < block ? s.n : i0 + block;
                bool held = true;
                bool covered = true;
                for (npy_intp l = 0; l < lanes; l++) {
                    held &= st[l].quick_held();
                    covered &= st[l].count >= 2 && st[l].finite_state();
                }
                // Quick steps cost little while values seldom move alone and
                // a mispredicted branch each time they do: a block goes the
                // way the previous one's share of such steps favours.
                if (held && covered && vec != nullptr && events * 16 > (i1 - i0) * lanes) {
                    if (vec->run(s, i0, i1, p, recips, scales, st)) {
                        events = vec->events;
                        continue;
                    }
                }
                events = 0;
                for (npy_intp l = 0; l < lanes; l++) {
                    saved[l] = st[l];
                    st[l].overwrote_broken = false;
                }
                if (held) {
                    npy_intp i = i0;
                    if (events == 0) {
                        i = rows.run(s, i0, i1, m, st);
                    }
                    for (; i < i1; i++) {
                        for (npy_intp l = 0; l < lanes; l++) {
                            events +=
                                st[l].quick_step([&s, l](npy_intp k) { return s.x(l, k); }, i);
                            s.y(l, i) = st[l].steady_out(m);
                        }
                    }
                    for (npy_intp l = 0; l < lanes; l++) {
                        held &= st[l].quick_held();
                    }
                    if (held) {
                        continue;
                    }
                    for (npy_intp l = 0; l < lanes; l++) {
                        st[l] = saved[l];
                    }
                }
                events = 0;
                for (npy_intp i = i0; i < i1; i++) {
                    for (npy_intp l = 0; l < lanes; l++) {
                        events += st[l].step([&s, l](npy_intp k) { return s.x(l, k); }, i);
                        s.y(l, i) = state::finish(st[l].steady_raw(m));
                    }
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
