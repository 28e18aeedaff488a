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
// the window takes the step-by-step update instead. With AVX2 or AVX-512 a
// contiguous slice runs the three stages of neighbouring blocks in one loop
// (sum_steady_packed), so that the vector work fills the ports the chain of
// additions leaves idle. Along a non-innermost axis, blocks of neighbouring
// slices are updated side by side, a row of lanes at a time, with selects in
// place of every branch.
#pragma once

#include <cmath>
#include <limits>

#include "frame/cpu.hpp"
#include "move/kernel_frame.hpp"
#include "move/sum_chunks.hpp"

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

// Positions taken at once by sum_steady_packed (longer blocks measured a
// little faster there: fewer turns of the loop around the pipeline).
inline constexpr npy_intp sum_packed_block = 256;

// The steady phase of a slice whose input and output are both contiguous,
// software-pipelined: the chain of one block is a scalar loop that waits on
// the latency of each addition and leaves the other ports idle, so the same
// loop also forms the next block's differences and counts and writes the
// previous block's outputs, a chunk of each per turn, and the processor runs
// the three side by side. The first and last blocks, and those next to an
// infinity, go through the stages one after the other.
template <class T, bool Mean>
inline void sum_steady_packed(const move_slice<T> &s, const move_params &p,
                              running_sum<T, Mean> &st) {
    using O = move_out<T>;
    namespace sc = sum_chunk;
    constexpr npy_intp B = sum_packed_block;
    constexpr npy_intp V = sc::width;
    static_assert(B % V == 0);
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const npy_intp w = p.window;
    const npy_intp m = p.min_count;
    const npy_intp n = s.n;
    const T *x = reinterpret_cast<const T *>(s.in);
    O *y = reinterpret_cast<O *>(s.out);
    // Two of each: the block in the chain, and the one before it (its sums
    // awaiting output) or after it (its differences).
    alignas(64) double d[2][B];         // differences, replaced by the sums
    alignas(64) npy_intp counts[2][B];  // non-NaN values in each window
    alignas(64) double r[2][B];         // the mean's factors
    bool changed[2] = {true, true};     // whether a block's count changes
    // The states in locals, so that no store into the buffers can alias
    // them and they stay in registers: the sum and the count at the end of
    // the last block in the chain, the count at the end of the last block
    // whose steps are formed.
    double sum = st.s;
    npy_intp count = st.count;
    sc::i64v ahead = {};
    const double *recips = st.recips;
    const double recip = st.recip;

    // Steps of positions i + j0 .. i + j1 - 1 (whole chunks) into buffer k,
    // marking in `inf` and `change` where an infinity enters or leaves and
    // where the count changes.
    auto steps = [&](int k, npy_intp i, npy_intp j0, npy_intp j1, sc::i64v &inf,
                     sc::i64v &change) {
        if constexpr (is_float<T>) {
            for (npy_intp j = j0; j < j1; j += V) {
                sc::float_steps(x + i + j, w, d[k] + j, counts[k] + j, ahead, inf, change);
            }
        } else {
            for (npy_intp j = j0; j < j1; j += V) {
                sc::int_steps(x + i + j, w, d[k] + j);
            }
        }
    };
    // Whether the next block's values are likely all finite: then its steps
    // are first formed as plain differences (see sum_chunk::finite_steps).
    // Guessed from the block before.
    bool finite = true;
    // Steps of a whole block, the last chunk by scalar code where the block
    // is short.
    auto block_steps = [&](int k, npy_intp i, npy_intp len) {
        if constexpr (is_float<T>) {
            if (finite && len == B) {
                sc::f64v check = {};
                for (npy_intp j = 0; j < B; j += V) {
                    sc::finite_steps(x + i + j, w, d[k] + j, counts[k] + j, ahead, check);
                }
                if (!sc::any_nan(check)) {
                    changed[k] = false;
                    return false;
                }
            }
        }
        sc::i64v inf = {};
        sc::i64v change = {};
        const npy_intp full = len - len % V;
        steps(k, i, 0, full, inf, change);
        bool any_inf = sc::any(inf);
        for (npy_intp j = full; j < len; j++) {
            if constexpr (is_float<T>) {
                npy_intp dc;
                any_inf |= sum_step(static_cast<double>(x[i + j]),
                                    static_cast<double>(x[i + j - w]), d[k][j], dc) != 0;
                ahead += dc;
                counts[k][j] = ahead[0];
                change |= dc;
            } else {
                d[k][j] = int_difference(x[i + j], x[i + j - w]);
            }
        }
        changed[k] = sc::any(change);
        finite = !changed[k] && !any_inf;
        return any_inf;
    };
    // The chain over positions j0 .. j1 - 1 of buffer k, and the mean's
    // factors: looked up where the count changes in the block, else one.
    auto chain = [&](int k, npy_intp j0, npy_intp j1) {
        for (npy_intp j = j0; j < j1; j++) {
            sum += d[k][j];
            d[k][j] = sum;
        }
        if constexpr (is_float<T> && Mean) {
            if (changed[k]) {
                for (npy_intp j = j0; j < j1; j++) {
                    r[k][j] = recips[counts[k][j]];
                }
            } else {
                const sc::f64v f = sc::f64v{} + recips[counts[k][0]];
                for (npy_intp j = j0; j < j1; j += V) {
                    sc::store(r[k] + j, f);
                }
            }
        }
    };
    // The outputs of positions i + j0 .. i + j1 - 1 from buffer k. The
    // mean's factor is NaN where too few values count (see
    // move_sum_op::prepare).
    auto output = [&](int k, npy_intp i, npy_intp j0, npy_intp j1) {
        npy_intp j = j0;
        for (; j + V <= j1; j += V) {
            sc::f64v v = sc::load_at<sc::f64v>(d[k] + j);
            if constexpr (is_float<T> && Mean) {
                v *= sc::load_at<sc::f64v>(r[k] + j);
            } else if constexpr (is_float<T>) {
                v = sc::load_at<sc::i64v>(counts[k] + j) < m ? sc::f64v{} + nan : v;
            } else if constexpr (Mean) {
                v *= recip;
            }
            sc::put(y + i + j, v);
        }
        for (; j < j1; j++) {
            double v = d[k][j];
            if constexpr (is_float<T> && Mean) {
                v *= r[k][j];
            } else if constexpr (is_float<T>) {
                v = counts[k][j] < m ? nan : v;
            } else if constexpr (Mean) {
                v *= recip;
            }
            y[i + j] = static_cast<O>(v);
        }
    };

    int k = 0;              // the buffer of the block at i
    bool ready = false;     // whether buffer k holds that block's steps, clean
    npy_intp pending = -1;  // the block whose sums wait in buffer k ^ 1
    npy_intp pending_len = 0;
    auto flush = [&]() {
        if (pending >= 0) {
            output(k ^ 1, pending, 0, pending_len);
            pending = -1;
        }
    };
    for (npy_intp i = w; i < n;) {
        const npy_intp len = n - i < B ? n - i : B;
        if (!ready) {
            ahead = sc::i64v{} + count;
            const bool inf = block_steps(k, i, len);
            if constexpr (is_float<T>) {
                if (inf || (st.pos_inf | st.neg_inf) != 0) [[unlikely]] {
                    // Step by step while an infinity is in the window.
                    flush();
                    st.s = sum;
                    st.count = count;
                    for (npy_intp j = i; j < i + len; j++) {
                        st.swap(x[j], x[j - w]);
                        y[j] = st.steady_value(m);
                    }
                    sum = st.s;
                    count = st.count;
                    i += len;
                    continue;
                }
            }
        }
        const npy_intp next = i + len;
        const npy_intp next_len = n - next < B ? n - next : B;
        bool next_inf = false;
        if (pending >= 0 && pending_len == B && len == B && next_len == B) {
            // The three stages side by side: the pending block's outputs,
            // this block's chain, the next block's steps (into the buffer
            // just written out, a chunk after its outputs).
            sc::i64v inf = {};
            sc::i64v change = {};
            sc::f64v check = {};
            // Varying: the counts vary within this block, so the mean's
            // factors are formed per position. Finite: the next block's
            // steps are first taken as plain differences.
            auto turns = [&]<bool Varying, bool Finite>() {
                for (npy_intp j = 0; j < B; j += V) {
                    output(k ^ 1, pending, j, j + V);
                    for (npy_intp t = j; t < j + V; t++) {
                        sum += d[k][t];
                        d[k][t] = sum;
                    }
                    if constexpr (is_float<T> && Mean) {
                        sc::store(r[k] + j, Varying ? sc::factors(counts[k] + j, m)
                                                    : sc::f64v{} + recips[counts[k][0]]);
                    }
                    if constexpr (Finite) {
                        sc::finite_steps(x + next + j, w, d[k ^ 1] + j, counts[k ^ 1] + j, ahead,
                                         check);
                    } else {
                        steps(k ^ 1, next, j, j + V, inf, change);
                    }
                }
            };
            if constexpr (is_float<T>) {
                if (finite) {
                    if (changed[k]) {
                        turns.template operator()<true, true>();
                    } else {
                        turns.template operator()<false, true>();
                    }
                    if (sc::any_nan(check)) {
                        // Not all finite after all: the steps again.
                        finite = false;
                        next_inf = block_steps(k ^ 1, next, B);
                    } else {
                        changed[k ^ 1] = false;
                    }
                } else {
                    if (changed[k]) {
                        turns.template operator()<true, false>();
                    } else {
                        turns.template operator()<false, false>();
                    }
                    changed[k ^ 1] = sc::any(change);
                    next_inf = sc::any(inf);
                    finite = !changed[k ^ 1] && !next_inf;
                }
            } else {
                turns.template operator()<false, false>();
            }
        } else {
            flush();
            chain(k, 0, len);
            if (next_len > 0) {
                next_inf = block_steps(k ^ 1, next, next_len);
            }
        }
        if constexpr (is_float<T>) {
            count = counts[k][len - 1];
        }
        pending = i;
        pending_len = len;
        k ^= 1;
        i = next;
        // A next block with an infinity forms its steps again, on the
        // step-by-step path.
        ready = !next_inf;
    }
    // The buffer of the last block is k ^ 1.
    flush();
    st.s = sum;
    st.count = count;
}

// Pipelined: whether contiguous slices take sum_steady_packed, whose
// vectors and compares of 64-bit integers need more than the x86-64
// baseline has to pay (the AVX2 and AVX-512 levels).
template <class T, bool Mean, bool Pipelined = false>
inline void sum_slice(const move_slice<T> &s, const move_params &p, void *scratch) {
    using O = move_out<T>;
    running_sum<T, Mean> st;
    st.init(p, scratch);
    fill_phases(st, s, p);
    if constexpr (Pipelined) {
        if (s.contiguous_in() && s.out_step == static_cast<npy_intp>(sizeof(O))) {
            sum_steady_packed(s, p, st);
            return;
        }
    }
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

    // Wide: with the permutes of permuted_factors (the AVX-512 level).
    template <bool Wide>
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
        // Infinities in all the lanes' windows.
        npy_intp infinities = 0;
        for (npy_intp l = 0; l < lanes; l++) {
            infinities += pos_inf[l] + neg_inf[l];
        }
        for (npy_intp i = w; i < x.n; i++) {
            const char *ra = row_in(a, x, i);
            const char *rb = row_in(b, x, i - w);
            O *yr = row_out(x, i);
            if constexpr (is_float<T>) {
                // The running sums and counts, as every row updates them;
                // the infinities are counted only while some window holds
                // one (or from the row where one enters, by a second pass).
                const bool tally = infinities != 0;
                npy_intp changed = 0;
                npy_intp lo = w;
                npy_intp hi = 0;
                npy_intp inf_rows = 0;
                // Lane l's infinities as va enters and vb leaves; the
                // change of their number.
                auto count_inf = [&](npy_intp l, double va, double vb) {
                    const npy_intp dp = static_cast<npy_intp>(va == inf) -
                                        static_cast<npy_intp>(vb == inf);
                    const npy_intp dn = static_cast<npy_intp>(va == -inf) -
                                        static_cast<npy_intp>(vb == -inf);
                    pos_inf[l] += dp;
                    neg_inf[l] += dn;
                    return dp + dn;
                };
                auto update = [&]<bool Tally>() {
                    npy_intp ch = 0;
                    npy_intp low = w;
                    npy_intp high = 0;
                    npy_intp found = 0;
                    npy_intp delta = 0;
                    for (npy_intp l = 0; l < lanes; l++) {
                        const double va = static_cast<double>(at(ra, l));
                        const double vb = static_cast<double>(at(rb, l));
                        const bool fa = va - va == 0.0;
                        const bool fb = vb - vb == 0.0;
                        s[l] += (fa ? va : 0.0) - (fb ? vb : 0.0);
                        const npy_intp dc =
                            static_cast<npy_intp>(va == va) - static_cast<npy_intp>(vb == vb);
                        count[l] += dc;
                        ch |= dc;
                        if constexpr (Mean) {
                            low = count[l] < low ? count[l] : low;
                            high = count[l] > high ? count[l] : high;
                        }
                        if constexpr (Tally) {
                            delta += count_inf(l, va, vb);
                        } else {
                            // Neither finite nor NaN: infinite.
                            found |= static_cast<npy_intp>(!fa & (va == va)) |
                                     static_cast<npy_intp>(!fb & (vb == vb));
                        }
                    }
                    changed = ch;
                    lo = low;
                    hi = high;
                    inf_rows = found;
                    infinities += delta;
                };
                if (tally) [[unlikely]] {
                    update.template operator()<true>();
                } else {
                    update.template operator()<false>();
                    if (inf_rows != 0) [[unlikely]] {
                        for (npy_intp l = 0; l < lanes; l++) {
                            infinities += count_inf(l, static_cast<double>(at(ra, l)),
                                                    static_cast<double>(at(rb, l)));
                        }
                    }
                }
                // The table look-up on its own: a scalar loop, which leaves
                // the others to vector code; by permutes where the counts are
                // close. Where no count changed (no NaN entered or left), the
                // factors stay.
                if constexpr (Mean) {
                    if (changed != 0 || i == w) {
                        if (Wide && hi - lo < 32) {
                            sum_chunk::permuted_factors(count, lanes, lo, hi, recips, factor);
                        } else {
                            for (npy_intp l = 0; l < lanes; l++) {
                                factor[l] = recips[count[l]];
                            }
                        }
                    }
                }
                if (tally || inf_rows != 0) [[unlikely]] {
                    for (npy_intp l = 0; l < lanes; l++) {
                        double v = Mean ? s[l] * factor[l] : s[l];
                        v = pos_inf[l] != 0 ? v + inf : v;
                        v = neg_inf[l] != 0 ? v - inf : v;
                        yr[l] = static_cast<O>(Mean || count[l] >= m ? v : nan);
                    }
                } else {
                    for (npy_intp l = 0; l < lanes; l++) {
                        const double v = Mean ? s[l] * factor[l] : s[l];
                        yr[l] = static_cast<O>(Mean || count[l] >= m ? v : nan);
                    }
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

    template <bool Pipelined = false>
    static void slice_any(const move_slice<T> &s, const move_params &p, void *scratch) {
        if (p.window == 1) {
            copy(s);
        } else {
            sum_slice<T, Mean, Pipelined>(s, p, scratch);
        }
    }
    static void slice(const move_slice<T> &s, const move_params &p, void *scratch) {
        // The pipelined steady phase needs vector compares of 64-bit
        // integers: AVX2 has them, the x86-64 baseline does not.
        isa_dispatch([&](auto tag) {
            slice_any<decltype(tag)::level != isa::base>(s, p, scratch);
        });
    }

    template <bool Wide = false>
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
                    ->template run<Wide>(s, p, static_cast<const double *>(scratch));
            } else {
                for (npy_intp l = 0; l < s.count; l++) {
                    sum_slice<T, Mean>(s.lane(l), p, scratch);
                }
            }
        }
    }
    static void lanes(const move_lanes<T> &s, const move_params &p, void *scratch) {
        isa_dispatch([&](auto tag) {
            lanes_any<decltype(tag)::level == isa::avx512>(s, p, scratch);
        });
    }
};

template <class T>
inline constexpr move_kernel move_sum_axis = move_run<move_sum_op<T, false>>;
template <class T>
inline constexpr move_kernel move_mean_axis = move_run<move_sum_op<T, true>>;

}  // namespace corvane
