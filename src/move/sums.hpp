// move_sum and move_mean: a running sum updated in constant time per step.
//
// Kernels: move_sum_axis_f64 .. move_sum_axis_i32, move_mean_axis_f64 ..
// move_mean_axis_i32 (the instances of move_sum_axis<T> and move_mean_axis<T>
// for double, float, int64_t, int32_t).
//
// The running sum is float64 for every input type: float32 values are
// widened, summed exactly as their float64 conversions would be, and each
// output is rounded once to float32. (A float32 running sum drifts by far
// more than float32's precision over a long slice.)
//
// Float kernels keep infinities out of the running sum and count them
// instead: an infinity leaving the window would otherwise leave inf - inf =
// NaN behind for the rest of the slice. While an infinity is in the window
// the output is what IEEE arithmetic gives for that window; for finite data
// the running sum is updated exactly as a plain running sum would be.
//
// The steady phase of a slice goes a block of positions at a time: first,
// with vector code, each step's difference (entering minus leaving value,
// NaN and infinities as +0) and change of the count; then the running sum
// alone, one addition per step, so NaNs never stand in the sum's dependency
// chain and no branch follows the data. A block in which an infinity is in
// the window takes the step-by-step update instead. Along a non-innermost
// axis, blocks of neighbouring slices are updated side by side, a row of
// lanes at a time, with selects in place of every branch.
#pragma once

#include <cmath>
#include <limits>

#include "frame/cpu.hpp"
#include "move/kernel_frame.hpp"

namespace corvane {

// v, or NaN where fewer than m values count: always the same quiet NaN,
// whatever NaN the mean of an empty window (0 * inf) made.
// (A select on the bits: whether the count suffices follows the data.)
inline double counted(double v, npy_intp count, npy_intp m) {
    return select(count < m, std::numeric_limits<double>::quiet_NaN(), v);
}

// a - b in float64, exact for int32; for int64 the integer difference
// where it fits, else the difference of the two converted values.
template <class T>
inline double int_difference(T a, T b) {
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

template <class T, bool Mean>
struct running_sum {
    using O = move_out<T>;

    double s = 0;          // sum of the finite values in the window
    npy_intp count = 0;    // non-NaN values in the window (float inputs)
    npy_intp pos_inf = 0;  // +inf in the window
    npy_intp neg_inf = 0;  // -inf in the window
    double recip = 0;                // mean, steady phase: 1 / count
    // mean, float kernels: 1 / k for k = 0 .. window, NaN for k < min_count
    const double *recips = nullptr;
    npy_intp window = 0;

    void init(const move_params &p, void *scratch) {
        recips = static_cast<const double *>(scratch);
        window = p.window;
    }

    // Counts an infinity x in (sign +1) or out (sign -1) of the window.
    void tally_inf(double x, npy_intp sign) {
        constexpr double inf = std::numeric_limits<double>::infinity();
        pos_inf += sign & -static_cast<npy_intp>(x == inf);
        neg_inf += sign & -static_cast<npy_intp>(x == -inf);
    }

    void add(T x) {
        const double v = static_cast<double>(x);
        if constexpr (is_float<T>) {
            s += v - v == 0.0 ? v : 0.0;
            count += v == v;
            if (std::fabs(v) == std::numeric_limits<double>::infinity()) [[unlikely]] {
                tally_inf(v, 1);
            }
        } else {
            s += v;
        }
    }

    // A value formed from the finite values, with the window's infinities
    // added as IEEE arithmetic would add them.
    double with_infinities(double v) const {
        if constexpr (is_float<T>) {
            if ((pos_inf | neg_inf) != 0) [[unlikely]] {
                constexpr double inf = std::numeric_limits<double>::infinity();
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
            return static_cast<O>(with_infinities(Mean ? s / static_cast<double>(count) : s));
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
            const double va = static_cast<double>(a);
            const double vb = static_cast<double>(b);
            const step_pair<double> c = classify(va, vb);
            s += c.a_finite - c.b_finite;
            count += (c.non_nan & 1) - (c.non_nan >> 1);
            if (c.infinite != 0) [[unlikely]] {
                tally_inf(va, 1);
                tally_inf(vb, -1);
            }
        } else {
            s += int_difference(a, b);
        }
    }

    O steady_value(npy_intp m) {
        if constexpr (is_float<T>) {
            if constexpr (Mean) {
                // Looked up at every step: cheaper than a branch on whether
                // the count changed.
                set_recip();
            }
            return static_cast<O>(counted(with_infinities(Mean ? s * recip : s), count, m));
        } else {
            return Mean ? s * recip : s;
        }
    }
};

// Positions taken at once in the steady phase of one slice.
inline constexpr npy_intp sum_block = 128;

// One steady step's difference d (entering minus leaving value, NaN and
// infinities as +0, as running_sum::swap forms it) and change dc of the
// count of non-NaN values; returns 1 when either value is infinite.
inline npy_intp sum_step(double a, double b, double &d, npy_intp &dc) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double ka = a - a == 0.0 ? a : 0.0;
    const double kb = b - b == 0.0 ? b : 0.0;
    d = ka - kb;
    dc = static_cast<npy_intp>(a == a) - static_cast<npy_intp>(b == b);
    return static_cast<npy_intp>(std::fabs(a) == inf) | static_cast<npy_intp>(std::fabs(b) == inf);
}

// The steps of positions 0 .. len - 1 of a contiguous input x, window w:
// a loop the compiler turns into vector code.
template <class T>
inline bool sum_differences(const T *x, npy_intp w, npy_intp len, double *d, npy_intp *dc) {
    npy_intp inf = 0;
    for (npy_intp j = 0; j < len; j++) {
        inf |= sum_step(static_cast<double>(x[j]), static_cast<double>(x[j - w]), d[j], dc[j]);
    }
    return inf != 0;
}

// The same for positions i .. i + len - 1 of a strided slice.
template <class T>
inline bool sum_differences(const move_slice<T> &s, npy_intp i, npy_intp w, npy_intp len,
                            double *d, npy_intp *dc) {
    npy_intp inf = 0;
    for (npy_intp j = 0; j < len; j++) {
        inf |= sum_step(static_cast<double>(s.x(i + j)), static_cast<double>(s.x(i + j - w)),
                        d[j], dc[j]);
    }
    return inf != 0;
}

// The steady phase of one slice, from position i (= window) on, `st` holding
// the state the fill phase left.
template <class T, bool Mean>
inline void sum_steady(const move_slice<T> &s, const move_params &p, running_sum<T, Mean> &st) {
    using O = move_out<T>;
    const npy_intp w = p.window;
    const npy_intp m = p.min_count;
    const bool contiguous = s.contiguous_in();
    double d[sum_block];       // entering minus leaving value
    npy_intp dc[sum_block];    // change of the count of non-NaN values
    double r[sum_block];       // the mean's factors
    for (npy_intp i = w; i < s.n; i += sum_block) {
        const npy_intp len = s.n - i < sum_block ? s.n - i : sum_block;
        if constexpr (is_float<T>) {
            // The differences, as swap() forms them; whether an infinity
            // enters or leaves.
            const bool inf =
                contiguous ? sum_differences(reinterpret_cast<const T *>(s.in) + i, w, len, d, dc)
                           : sum_differences(s, i, w, len, d, dc);
            if (inf || (st.pos_inf | st.neg_inf) != 0) [[unlikely]] {
                for (npy_intp j = i; j < i + len; j++) {
                    st.swap(s.x(j), s.x(j - w));
                    s.y(j) = st.steady_value(m);
                }
                continue;
            }
            // The chain: nothing but the additions (the sums replace the
            // steps in place), with the count and, for the mean, the factor
            // of each output looked up alongside.
            double sum = st.s;
            npy_intp count = st.count;
            const double *recips = st.recips;
            for (npy_intp j = 0; j < len; j++) {
                sum += d[j];
                d[j] = sum;
                count += dc[j];
                if constexpr (Mean) {
                    r[j] = recips[count];
                } else {
                    dc[j] = count;
                }
            }
            st.s = sum;
            st.count = count;
            // The outputs, in vector code again. The mean's factor is NaN
            // where too few values count (see move_sum_op::prepare).
            auto value = [&](npy_intp j) {
                if constexpr (Mean) {
                    return static_cast<O>(d[j] * r[j]);
                } else {
                    return static_cast<O>(
                        dc[j] < m ? std::numeric_limits<double>::quiet_NaN() : d[j]);
                }
            };
            if (s.out_step == static_cast<npy_intp>(sizeof(O))) {
                O *y = &s.y(i);
                for (npy_intp j = 0; j < len; j++) {
                    y[j] = value(j);
                }
            } else {
                for (npy_intp j = 0; j < len; j++) {
                    s.y(i + j) = value(j);
                }
            }
        } else {
            if (contiguous) {
                const T *x = reinterpret_cast<const T *>(s.in) + i;
                for (npy_intp j = 0; j < len; j++) {
                    d[j] = int_difference(x[j], x[j - w]);
                }
            } else {
                for (npy_intp j = 0; j < len; j++) {
                    d[j] = int_difference(s.x(i + j), s.x(i + j - w));
                }
            }
            double sum = st.s;
            for (npy_intp j = 0; j < len; j++) {
                sum += d[j];
                d[j] = sum;
            }
            st.s = sum;
            const double recip = st.recip;
            if (s.out_step == static_cast<npy_intp>(sizeof(O))) {
                O *y = &s.y(i);
                for (npy_intp j = 0; j < len; j++) {
                    y[j] = Mean ? d[j] * recip : d[j];
                }
            } else {
                for (npy_intp j = 0; j < len; j++) {
                    s.y(i + j) = Mean ? d[j] * recip : d[j];
                }
            }
        }
    }
}

template <class T, bool Mean>
inline void sum_slice(const move_slice<T> &s, const move_params &p, void *scratch) {
    using O = move_out<T>;
    const npy_intp w = p.window;
    const npy_intp m = p.min_count;
    running_sum<T, Mean> st;
    st.init(p, scratch);
    npy_intp i = 0;
    for (; i < m - 1; i++) {
        st.add(s.x(i));
        s.y(i) = nan_of<O>();
    }
    for (; i < w; i++) {
        st.add(s.x(i));
        s.y(i) = st.fill_value(i, m);
    }
    st.start_steady();
    sum_steady(s, p, st);
}

// Lanes side by side: the states of a block of lanes as arrays, updated a
// row at a time by loops over the lanes that compile to vector code (the
// counts of NaN and infinities by compares, the cases by selects).
// Lanes taken at once: whole rows of a 1000-column array, so that rows are
// read and written along memory (blocks of a row far apart would restart
// the hardware prefetcher at every one).
inline constexpr npy_intp sum_lanes = 1024;

template <class T, bool Mean>
struct sum_lane_states {
    using O = move_out<T>;
    static constexpr npy_intp lane_block = sum_lanes;
    static constexpr double inf = std::numeric_limits<double>::infinity();
    static constexpr double nan = std::numeric_limits<double>::quiet_NaN();

    T a[lane_block];            // the row entering
    T b[lane_block];            // the row leaving
    O y[lane_block];            // the output row
    double s[lane_block];
    npy_intp count[lane_block];
    npy_intp pos_inf[lane_block];
    npy_intp neg_inf[lane_block];
    double factor[lane_block];  // the mean's factors

    // Row i of the lanes as packed elements: in place where the lanes are
    // packed, else gathered into `buffer`.
    static const char *row_in(T *buffer, const move_lanes<T> &x, npy_intp i) {
        const char *p = x.in + i * x.in_step;
        if (x.in_lane == static_cast<npy_intp>(sizeof(T))) {
            return p;
        }
        for (npy_intp l = 0; l < x.count; l++) {
            buffer[l] = load<T>(p + l * x.in_lane);
        }
        return reinterpret_cast<const char *>(buffer);
    }
    static T at(const char *row, npy_intp l) {
        return load<T>(row + l * static_cast<npy_intp>(sizeof(T)));
    }

    // Where output row i is written: in place where the lanes are packed,
    // else into `y` and then scattered by write_row.
    O *row_out(const move_lanes<T> &x, npy_intp i) {
        if (x.out_lane == static_cast<npy_intp>(sizeof(O))) {
            return reinterpret_cast<O *>(x.out + i * x.out_step);
        }
        return y;
    }
    void write_row(const move_lanes<T> &x, npy_intp i) const {
        if (x.out_lane != static_cast<npy_intp>(sizeof(O))) {
            char *p = x.out + i * x.out_step;
            for (npy_intp l = 0; l < x.count; l++) {
                *reinterpret_cast<O *>(p + l * x.out_lane) = y[l];
            }
        }
    }

    void run(const move_lanes<T> &x, const move_params &p, const double *recips) {
        const npy_intp w = p.window;
        const npy_intp m = p.min_count;
        const npy_intp lanes = x.count;
        for (npy_intp l = 0; l < lanes; l++) {
            s[l] = 0;
            count[l] = pos_inf[l] = neg_inf[l] = 0;
        }
        for (npy_intp i = 0; i < w; i++) {
            const char *ra = row_in(a, x, i);
            O *yr = row_out(x, i);
            const bool lead = i < m - 1;
            for (npy_intp l = 0; l < lanes; l++) {
                const double v = static_cast<double>(at(ra, l));
                if constexpr (is_float<T>) {
                    s[l] += v - v == 0.0 ? v : 0.0;
                    count[l] += v == v;
                    pos_inf[l] += v == inf;
                    neg_inf[l] += v == -inf;
                    double r = Mean ? s[l] / static_cast<double>(count[l]) : s[l];
                    r = pos_inf[l] != 0 ? r + inf : r;
                    r = neg_inf[l] != 0 ? r - inf : r;
                    yr[l] = static_cast<O>(lead | (count[l] < m) ? nan : r);
                } else {
                    s[l] += v;
                    yr[l] = lead ? nan : Mean ? s[l] / static_cast<double>(i + 1) : s[l];
                }
            }
            write_row(x, i);
        }
        const double recip = 1.0 / static_cast<double>(w);
        for (npy_intp i = w; i < x.n; i++) {
            const char *ra = row_in(a, x, i);
            const char *rb = row_in(b, x, i - w);
            O *yr = row_out(x, i);
            if constexpr (is_float<T>) {
                for (npy_intp l = 0; l < lanes; l++) {
                    const double va = static_cast<double>(at(ra, l));
                    const double vb = static_cast<double>(at(rb, l));
                    s[l] += (va - va == 0.0 ? va : 0.0) - (vb - vb == 0.0 ? vb : 0.0);
                    count[l] += static_cast<npy_intp>(va == va) - static_cast<npy_intp>(vb == vb);
                    pos_inf[l] += static_cast<npy_intp>(va == inf) - static_cast<npy_intp>(vb == inf);
                    neg_inf[l] +=
                        static_cast<npy_intp>(va == -inf) - static_cast<npy_intp>(vb == -inf);
                }
                // The table look-up on its own: a scalar loop, which leaves
                // the others to vector code.
                if constexpr (Mean) {
                    for (npy_intp l = 0; l < lanes; l++) {
                        factor[l] = recips[count[l]];
                    }
                }
                for (npy_intp l = 0; l < lanes; l++) {
                    double v = Mean ? s[l] * factor[l] : s[l];
                    v = pos_inf[l] != 0 ? v + inf : v;
                    v = neg_inf[l] != 0 ? v - inf : v;
                    yr[l] = static_cast<O>(Mean || count[l] >= m ? v : nan);
                }
            } else {
                for (npy_intp l = 0; l < lanes; l++) {
                    s[l] += int_difference(at(ra, l), at(rb, l));
                    yr[l] = Mean ? s[l] * recip : s[l];
                }
            }
            write_row(x, i);
        }
    }
};

template <class T, bool Mean>
struct move_sum_op {
    using in = T;
    static constexpr const char *name = Mean ? "move_mean" : "move_sum";
    static constexpr npy_intp lane_count = sum_lanes;

    // The mean's table of reciprocals (float inputs).
    static npy_intp table_bytes(const move_params &p) {
        return Mean && is_float<T> ? (p.window + 1) * static_cast<npy_intp>(sizeof(double)) : 0;
    }
    static npy_intp scratch_bytes(const move_params &p) { return table_bytes(p); }
    static void prepare(const move_params &p, void *scratch) {
        if (table_bytes(p) > 0) {
            // A count below min_count makes the factor, and so the mean, NaN.
            double *table = static_cast<double *>(scratch);
            fill_reciprocals(table, p.window, 0);
            for (npy_intp k = 0; k < p.min_count; k++) {
                table[k] = std::numeric_limits<double>::quiet_NaN();
            }
        }
    }
    // Every window is one value: the output is the value itself (NaN
    // included), without the rounding of a running update.
    static void copy(const move_slice<T> &s) {
        for (npy_intp i = 0; i < s.n; i++) {
            s.y(i) = static_cast<move_out<T>>(s.x(i));
        }
    }

    static void slice_any(const move_slice<T> &s, const move_params &p, void *scratch) {
        if (p.window == 1) {
            copy(s);
        } else {
            sum_slice<T, Mean>(s, p, scratch);
        }
    }
    static void slice(const move_slice<T> &s, const move_params &p, void *scratch) {
        isa_dispatch([&](auto) { slice_any(s, p, scratch); });
    }

    static void lanes_any(const move_lanes<T> &s, const move_params &p, void *scratch) {
        if (p.window == 1) {
            for (npy_intp l = 0; l < s.count; l++) {
                copy(s.lane(l));
            }
        } else {
            // The lanes' states are allocated here, so that calls without
            // lanes do not pay for them; without the memory, the lanes are
            // walked one by one (same results).
            scratch_block states;
            if (states.allocate(static_cast<npy_intp>(sizeof(sum_lane_states<T, Mean>)))) {
                static_cast<sum_lane_states<T, Mean> *>(states.get())
                    ->run(s, p, static_cast<const double *>(scratch));
            } else {
                for (npy_intp l = 0; l < s.count; l++) {
                    sum_slice<T, Mean>(s.lane(l), p, scratch);
                }
            }
        }
    }
    static void lanes(const move_lanes<T> &s, const move_params &p, void *scratch) {
        isa_dispatch([&](auto) { lanes_any(s, p, scratch); });
    }
};

template <class T>
inline constexpr move_kernel move_sum_axis = move_run<move_sum_op<T, false>>;
template <class T>
inline constexpr move_kernel move_mean_axis = move_run<move_sum_op<T, true>>;

}  // namespace corvane
