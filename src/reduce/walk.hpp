// The shared walks of the accumulating reductions.
//
// An accumulating reduction is described by an operation, passed by value so
// that it can carry parameters (ddof, say):
//
//   struct op {
//       using in = T;      // element type read
//       using out = O;     // element type of the along-axis output
//       using acc = A;     // running state of one slice
//       acc init() const;
//       void add(acc &, in x) const;                 // next element, in order
//       out finish(const acc &, npy_intp n) const;   // n: elements walked
//       out empty() const;                           // value for empty slices
//   };
//
// (Members may be static.) A positional operation's add takes a third
// argument, the element's index in its slice: add(acc &, in x, npy_intp j).
// Optional hooks:
//
//   void add_run(acc &, const char *p, npy_intp n) const;
//       A contiguous run of n elements starting at p (not necessarily
//       aligned: read them through load<in>), with the effect of calling
//       add() on each in turn, as far as the operation's result can tell (a
//       vectorised scan, say). A positional operation's add_run takes a
//       fourth argument, the index of the first.
//   bool decided(const acc &) const;
//       The state can no longer change: the walk may stop reading the slice
//       (or, over the whole array, the array).
//   second_op second(const acc &, npy_intp n) const;
//   bool skip_second(const acc &, npy_intp n) const;
//   out finish2(const acc &, const second_op::acc &, npy_intp n) const;
//       A second pass over the same elements, e.g. the squared deviations
//       from the mean the first pass found. second_op is a small operation
//       (init, add, and the optional hooks) holding what the first pass
//       found; finish2 forms the result from both states. When skip_second
//       holds, the walk need not read the elements again and finish2 gets
//       the second op's initial state. finish() is not used then.
//
// A float sum can say so, which lets the walks take its elements in blocks:
//
//   using W = double;                 // type of the running sum
//   using acc = sum_acc<W>;
//   static constexpr bool counts;     // whether acc.n counts the non-NaN elements
//   W term(in x) const;               // what x adds to the sum (no order)
//   template <class V> V wide_term(V w) const;
//       the same for a vector of elements widened to float64 (W is double)
//   static constexpr bool narrow_term;
//       term() tests x before widening it (a NaN test, say): across lanes of
//       float32 the compiler then keeps the masks narrow, which is cheaper
//
// add(s, x) must then be s.sum += term(x) (and s.n += !is_nan(x) when counting).
// The terms are formed a few at a time in vector registers, off the critical
// path; the chain of dependent adds is all that remains, and several
// slices' chains interleave.
//
// `add` sees the elements of each slice strictly in index order, so float
// accumulation is reproducible bit for bit. The walks below only change which
// slices are in flight at once, never the order within a slice.
#pragma once

#include <concepts>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "frame/intrinsics.hpp"

#include "frame/cpu.hpp"
#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/py_ref.hpp"
#include "frame/scalars.hpp"
#include "frame/slice_iter.hpp"

// Vectors stay inside the module, so their calling convention does not matter.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace corvane {

template <class Op>
concept positional = requires(const Op &op, typename Op::acc &s, typename Op::in x) {
    op.add(s, x, npy_intp(0));
};

template <class Op>
concept has_run = requires(const Op &op, typename Op::acc &s, const char *p) {
    op.add_run(s, p, npy_intp(0));
} || requires(const Op &op, typename Op::acc &s, const char *p) {
    op.add_run(s, p, npy_intp(0), npy_intp(0));
};

template <class Op>
concept has_exit = requires(const Op &op, const typename Op::acc &s) {
    { op.decided(s) } -> std::convertible_to<bool>;
};

// The state of a float sum: the running sum and the count of non-NaN elements.
template <class W>
struct sum_acc {
    W sum;
    npy_intp n;
};

template <class Op>
concept summing = is_float<typename Op::in> && requires(const Op &op, typename Op::in x) {
    { op.term(x) } -> std::same_as<typename Op::W>;
    { op.wide_term(__m128d{}) } -> std::same_as<__m128d>;
    { Op::counts } -> std::convertible_to<bool>;
};

template <class Op>
concept two_pass = requires(const Op &op, const typename Op::acc &s) { op.second(s, npy_intp(0)); };

namespace detail {

// Elements read between two looks at `decided`.
inline constexpr npy_intp exit_block = 1024;

// Element j of a slice into an accumulator.
template <class Op>
inline void add_one(const Op &op, typename Op::acc &s, typename Op::in x, npy_intp j) {
    if constexpr (positional<Op>) {
        op.add(s, x, j);
    } else {
        op.add(s, x);
    }
}

// Elements j0 .. j0 + len - 1 of a slice, the first at p.
template <class Op>
inline void add_elements(const Op &op, typename Op::acc &s, const char *p, npy_intp len,
                         npy_intp stride, npy_intp j0) {
    using T = typename Op::in;
    // The state is a local while the loop runs: the elements are read through
    // a char pointer, which may alias anything, so a state behind a reference
    // would be stored back after every element.
    typename Op::acc a = s;
    if (stride == static_cast<npy_intp>(sizeof(T))) {
        // Constant stride: lets the compiler vectorise where order is free.
        for (npy_intp j = 0; j < len; j++) {
            add_one(op, a, load<T>(p + j * sizeof(T)), j0 + j);
        }
    } else {
        for (npy_intp j = 0; j < len; j++, p += stride) {
            add_one(op, a, load<T>(p), j0 + j);
        }
    }
    s = a;
}

// Two float64 lanes (one SSE2 register) and the mask type of their comparisons.
using wide2 = __m128d;
typedef int64_t wide2_mask __attribute__((vector_size(16)));

// v with the lanes where w is NaN set to +0.
template <class V>
inline V zero_where_nan(V w, V v) {
    using M = decltype(w == w);
    return reinterpret_cast<V>(reinterpret_cast<M>(v) & (w == w));
}

// The same for one element (a select, for loops the compiler vectorises).
inline double zero_where_nan(double w, double v) { return w == w ? v : 0.0; }

// N lanes of T (GCC's vector extension).
template <class T, int N>
struct lanes_of {
    typedef T type __attribute__((vector_size(sizeof(T) * N)));
};
template <class T, int N>
using lanes_vec = typename lanes_of<T, N>::type;

// V float64 lanes in one vector register: SSE2 (2), AVX2 (4), AVX-512 (8).
template <int V>
using wide_vec = std::conditional_t<V == 8, __m512d, std::conditional_t<V == 4, __m256d, wide2>>;

// Float32 lanes to float64 in one instruction (a generic conversion is
// split in halves), for the targets that have it.
CORVANE_AVX2 inline __m256d widen(lanes_vec<float, 4> x) { return _mm256_cvtps_pd(x); }
CORVANE_AVX512 inline __m512d widen(lanes_vec<float, 8> x) { return _mm512_cvtps_pd(x); }

// Elements i .. i + V - 1 of a slice, widened to float64.
template <class T, int V>
inline wide_vec<V> load_wide(const char *p, npy_intp i, npy_intp stride, bool packed) {
    constexpr npy_intp size = sizeof(T);
    T b[V];
    const char *q = p + i * size;
    if (!packed) {
        for (int l = 0; l < V; l++) {
            b[l] = load<T>(p + (i + l) * stride);
        }
        q = reinterpret_cast<const char *>(b);
    }
    if constexpr (std::is_same_v<T, float>) {
        return widen(load<lanes_vec<float, V>>(q));
    } else {
        return load<wide_vec<V>>(q);
    }
}

// The shuffle that interleaves blocks of H lanes of two V-lane vectors: the
// low (Hi false) or high half of a butterfly step of a transpose.
template <class M, int V, int H, bool Hi, size_t... I>
inline M butterfly_mask(std::index_sequence<I...>) {
    return M{static_cast<int64_t>(Hi ? ((I & H) ? V + I : I + H) : ((I & H) ? V + I - H : I))...};
}

// Transposes V vectors of V lanes in place: afterwards x[c] holds lane c
// of every vector, in the order of the vectors.
template <int V, int H = 1>
inline void transpose(wide_vec<V> *x) {
    if constexpr (H < V) {
        using M = lanes_vec<int64_t, V>;
        const M lo = butterfly_mask<M, V, H, false>(std::make_index_sequence<V>{});
        const M hi = butterfly_mask<M, V, H, true>(std::make_index_sequence<V>{});
        for (int i = 0; i < V; i++) {
            if ((i & H) == 0) {
                const wide_vec<V> a = x[i];
                const wide_vec<V> b = x[i + H];
                x[i] = __builtin_shuffle(a, b, lo);
                x[i + H] = __builtin_shuffle(a, b, hi);
            }
        }
        transpose<V, 2 * H>(x);
    }
}

// Elements i and i + 1 (first) and i + 2 and i + 3 (second) of a slice,
// widened to float64.
template <class T>
inline void load_wide4(const char *p, npy_intp i, npy_intp stride, bool packed, wide2 &first,
                       wide2 &second) {
    if constexpr (std::is_same_v<T, float>) {
        __m128 x;
        if (packed) {
            x = load<__m128>(p + i * 4);
        } else {
            x = _mm_setr_ps(load<float>(p + i * stride), load<float>(p + (i + 1) * stride),
                            load<float>(p + (i + 2) * stride), load<float>(p + (i + 3) * stride));
        }
        first = _mm_cvtps_pd(x);
        second = _mm_cvtps_pd(_mm_movehl_ps(x, x));
    } else {
        if (packed) {
            first = load<wide2>(p + i * 8);
            second = load<wide2>(p + i * 8 + 16);
        } else {
            first = _mm_setr_pd(load<double>(p + i * stride), load<double>(p + (i + 1) * stride));
            second = _mm_setr_pd(load<double>(p + (i + 2) * stride),
                                 load<double>(p + (i + 3) * stride));
        }
    }
}

// Feeds K slices of a summing operation, slice k by op_at(k). A few
// elements of a slice at a time are widened and turned into terms in vector
// registers, with masks and no branches, then added to the slice's sum one
// after the other; the K chains of adds run side by side, each in its own
// order. Forming the terms is off the chains' critical path.
//
// V is the number of float64 lanes of the target's vectors. With V = 2 the
// terms of four elements are added as scalars. With wider vectors (K a
// multiple of V), V slices' terms for elements j .. j + V - 1 are transposed
// so that vector c holds element j + c of each of them: adding the V vectors
// in turn adds every slice's terms in its own order, V slices per instruction.
template <int K, class Op, class OpAt, int V = 2>
inline void sum_slices(OpAt op_at, typename Op::acc *s, const char *const *p, npy_intp len,
                       npy_intp stride) {
    using T = typename Op::in;
    static_assert(std::is_same_v<typename Op::W, double>);
    const bool packed = stride == static_cast<npy_intp>(sizeof(T));
    double sum[K];
    npy_intp cnt[K];
    for (int k = 0; k < K; k++) {
        sum[k] = s[k].sum;
        cnt[k] = 0;
    }
    npy_intp j = 0;
    if constexpr (V > 2) {
        static_assert(K % V == 0);
        constexpr int G = K / V;
        using D = wide_vec<V>;
        using M = lanes_vec<int64_t, V>;
        D acc[G];
        M count[K];
        for (int k = 0; k < K; k++) {
            acc[k / V][k % V] = sum[k];
            count[k] = M{};
        }
        // One loop for packed slices and one for strided ones.
        auto blocks = [&](auto is_packed) {
            for (; j + V <= len; j += V) {
                for (int g = 0; g < G; g++) {
                    D r[V];
                    for (int l = 0; l < V; l++) {
                        const int k = g * V + l;
                        const D w = load_wide<T, V>(p[k], j, stride, is_packed);
                        r[l] = op_at(k).wide_term(w);
                        if constexpr (Op::counts) {
                            count[k] -= (w == w);  // a true lane is -1
                        }
                    }
                    transpose<V>(r);
                    for (int c = 0; c < V; c++) {
                        acc[g] += r[c];
                    }
                }
            }
        };
        if (packed) {
            blocks(std::true_type{});
        } else {
            blocks(std::false_type{});
        }
        for (int k = 0; k < K; k++) {
            sum[k] = acc[k / V][k % V];
            for (int l = 0; l < V; l++) {
                cnt[k] += count[k][l];
            }
        }
    } else {
        wide2_mask count[K];
        for (int k = 0; k < K; k++) {
            count[k] = wide2_mask{};
        }
        for (; j + 4 <= len; j += 4) {
            for (int k = 0; k < K; k++) {
                const Op &op = op_at(k);
                wide2 w0, w1;
                load_wide4<T>(p[k], j, stride, packed, w0, w1);
                const wide2 v0 = op.wide_term(w0);
                const wide2 v1 = op.wide_term(w1);
                sum[k] += v0[0];
                sum[k] += v0[1];
                sum[k] += v1[0];
                sum[k] += v1[1];
                if constexpr (Op::counts) {
                    count[k] -= (w0 == w0) + (w1 == w1);  // a true lane is -1
                }
            }
        }
        for (int k = 0; k < K; k++) {
            cnt[k] = count[k][0] + count[k][1];
        }
    }
    for (int k = 0; k < K; k++) {
        const Op &op = op_at(k);
        npy_intp c = cnt[k];
        for (npy_intp i = j; i < len; i++) {
            const T x = load<T>(p[k] + i * stride);
            sum[k] += op.term(x);
            c += !is_nan(x);
        }
        s[k].sum = sum[k];
        if constexpr (Op::counts) {
            s[k].n += c;
        }
    }
}

}  // namespace detail

// Feeds one slice into an accumulator.
template <class Op>
inline void add_slice(const Op &op, typename Op::acc &s, const char *p, npy_intp len,
                      npy_intp stride) {
    using T = typename Op::in;
    if constexpr (summing<Op>) {
        const char *const q[1] = {p};
        detail::sum_slices<1, Op>([&](int) -> const Op & { return op; }, &s, q, len, stride);
        return;
    }
    if constexpr (has_run<Op>) {
        if (stride == static_cast<npy_intp>(sizeof(T))) {
            if constexpr (positional<Op>) {
                op.add_run(s, p, len, 0);
            } else {
                op.add_run(s, p, len);
            }
            return;
        }
    }
    if constexpr (has_exit<Op>) {
        for (npy_intp j = 0; j < len && !op.decided(s); j += detail::exit_block) {
            const npy_intp m = len - j < detail::exit_block ? len - j : detail::exit_block;
            detail::add_elements(op, s, p + j * stride, m, stride, j);
        }
    } else {
        detail::add_elements(op, s, p, len, stride, 0);
    }
}

// Puts a walk back at its first slice.
inline void rewind(slice_iter &it) {
    for (int d = 0; d <= it.last_outer; d++) {
        it.slice_start -= it.outer_index[d] * it.outer_stride[d];
        it.outer_index[d] = 0;
    }
    it.slice_done = 0;
}

// Feeds every slice of a walk, from its start, into one accumulator,
// stopping early when the operation allows it.
template <class Op>
inline void add_walk(const Op &op, typename Op::acc &s, slice_iter &it) {
    rewind(it);
    while (it.more()) {
        add_slice(op, s, it.slice_start, it.slice_len, it.slice_stride);
        if constexpr (has_exit<Op>) {
            if (op.decided(s)) {
                return;
            }
        }
        it.next();
    }
}

// The result of one slice (or of one run over the whole array, `walk` set),
// whose first pass has left `s`: runs the second pass of a two-pass op.
template <class Op>
inline typename Op::out finish_slice(const Op &op, const typename Op::acc &s, const char *p,
                                     npy_intp len, npy_intp stride, npy_intp n,
                                     slice_iter *walk = nullptr) {
    if constexpr (two_pass<Op>) {
        const auto op2 = op.second(s, n);
        auto t = op2.init();
        if (!op.skip_second(s, n)) {
            if (walk != nullptr) {
                add_walk(op2, t, *walk);
            } else {
                add_slice(op2, t, p, len, stride);
            }
        }
        return op.finish2(s, t, n);
    } else {
        return op.finish(s, n);
    }
}

// Reduces every element of `a` into one accumulator, in the walk order of
// slice_iter_init_all. Returns the Python scalar of the result.
template <class Op>
PyObject *reduce_whole(PyArrayObject *a, const Op &op = Op{}) {
    slice_iter it;
    slice_iter_init_all(it, a);
    const npy_intp n = PyArray_SIZE(a);
    typename Op::out result;
    {
        gil_released nogil;
        typename Op::acc s = op.init();
        add_walk(op, s, it);
        result = finish_slice(op, s, nullptr, 0, 0, n, &it);
    }
    return py_scalar(result);
}

namespace detail {

// Slices whose elements are far apart while neighbouring slices are close
// (reducing along a non-innermost axis) are taken a block of lanes at a time:
// row j of every slice in the block, then row j + 1. Each lane keeps its own
// accumulator and order; the loop runs along memory and across independent
// accumulators, so it is bound by bandwidth rather than by add latency.
inline constexpr npy_intp lane_block = 512;

// Rows between two looks at whether every lane of a block is decided.
inline constexpr npy_intp exit_rows = 16;

inline bool lanes_pay(const slice_iter &it) {
    if (it.last_outer < 0 || it.outer_len[it.last_outer] < 2) {
        return false;
    }
    const npy_intp lane = it.outer_stride[it.last_outer];
    const npy_intp step = it.slice_stride;
    return (lane < 0 ? -lane : lane) < (step < 0 ? -step : step);
}

// Adds rows [j0, j1) of a block of m lanes into their accumulators; lane l
// is fed by the operation op_at(l).
template <class Op, class OpAt>
inline void add_rows(OpAt op_at, typename Op::acc *s, npy_intp m, const char *row,
                     npy_intp lane_stride, npy_intp row_stride, npy_intp j0, npy_intp j1) {
    using T = typename Op::in;
    using A = typename Op::acc;
    // Each state is read whole before it is written back, which keeps the
    // compiler's vectorised loads of several-field states ahead of its
    // stores. Contiguous lanes take four rows per visit of the states (each
    // lane still sees its rows in order), which cuts the traffic to them.
    row += j0 * row_stride;
    npy_intp j = j0;
    if (lane_stride == static_cast<npy_intp>(sizeof(T))) {
        for (; j + 4 <= j1; j += 4, row += 4 * row_stride) {
            for (npy_intp l = 0; l < m; l++) {
                const char *x = row + l * static_cast<npy_intp>(sizeof(T));
                A a = s[l];
                const auto &op = op_at(l);
                add_one(op, a, load<T>(x), j);
                add_one(op, a, load<T>(x + row_stride), j + 1);
                add_one(op, a, load<T>(x + 2 * row_stride), j + 2);
                add_one(op, a, load<T>(x + 3 * row_stride), j + 3);
                s[l] = a;
            }
        }
        for (; j < j1; j++, row += row_stride) {
            for (npy_intp l = 0; l < m; l++) {
                A a = s[l];
                add_one(op_at(l), a, load<T>(row + l * static_cast<npy_intp>(sizeof(T))), j);
                s[l] = a;
            }
        }
    } else {
        for (; j < j1; j++, row += row_stride) {
            const char *p = row;
            for (npy_intp l = 0; l < m; l++, p += lane_stride) {
                A a = s[l];
                add_one(op_at(l), a, load<T>(p), j);
                s[l] = a;
            }
        }
    }
}

template <class Op, class OpAt>
inline void add_lanes(OpAt op_at, typename Op::acc *s, npy_intp m, const char *row,
                      npy_intp lane_stride, npy_intp row_stride, npy_intp len) {
    if constexpr (has_exit<Op>) {
        for (npy_intp j = 0; j < len; j += exit_rows) {
            add_rows<Op>(op_at, s, m, row, lane_stride, row_stride, j,
                         len - j < exit_rows ? len : j + exit_rows);
            npy_intp l = 0;
            while (l < m && op_at(l).decided(s[l])) {
                l++;
            }
            if (l == m) {
                return;
            }
        }
    } else {
        add_rows<Op>(op_at, s, m, row, lane_stride, row_stride, 0, len);
    }
}

// The results of a block of m lanes whose first pass has left s[0..m).
template <class Op>
inline void finish_lanes(const Op &op, const typename Op::acc *s, npy_intp m, const char *row,
                         npy_intp lane_stride, npy_intp row_stride, npy_intp len,
                         typename Op::out *y) {
    if constexpr (two_pass<Op>) {
        using Op2 = decltype(op.second(s[0], len));
        Op2 op2[lane_block];
        typename Op2::acc t[lane_block];
        bool any = false;
        for (npy_intp l = 0; l < m; l++) {
            op2[l] = op.second(s[l], len);
            t[l] = op2[l].init();
            any = any || !op.skip_second(s[l], len);
        }
        // Every lane reads its elements again when one needs to; a lane that
        // skips its second pass ignores what it gathered.
        if (any) {
            auto op_at = [&](npy_intp l) -> const Op2 & { return op2[l]; };
            add_lanes<Op2>(op_at, t, m, row, lane_stride, row_stride, len);
        }
        for (npy_intp l = 0; l < m; l++) {
            y[l] = op.finish2(s[l], op.skip_second(s[l], len) ? op2[l].init() : t[l], len);
        }
    } else {
        for (npy_intp l = 0; l < m; l++) {
            y[l] = op.finish(s[l], len);
        }
    }
}

// Rows [0, len) of a block of m lanes of a summing operation into their sums
// and counts (separate arrays, which the compiler vectorises across lanes);
// lane l is fed by op_at(l). Eight rows per visit of the sums, each lane in
// its own order.
template <class Op, class OpAt>
inline void sum_rows(OpAt op_at, double *sum, npy_intp *cnt, npy_intp m, const char *row,
                     npy_intp lane_stride, npy_intp row_stride, npy_intp len) {
    using T = typename Op::in;
    npy_intp j = 0;
    if (lane_stride == static_cast<npy_intp>(sizeof(T))) {
        constexpr int R = 8;
        for (; j + R <= len; j += R, row += R * row_stride) {
            for (npy_intp l = 0; l < m; l++) {
                const char *p = row + l * static_cast<npy_intp>(sizeof(T));
                const Op &op = op_at(l);
                double a = sum[l];
                // Counted in T's width: widening the masks of every row costs
                // more than the count itself.
                std::conditional_t<sizeof(T) == 8, int64_t, int32_t> c = 0;
                for (int r = 0; r < R; r++) {
                    const T x = load<T>(p + r * row_stride);
                    if constexpr (std::is_same_v<T, float> && Op::narrow_term) {
                        a += op.term(x);
                    } else {
                        a += op.wide_term(static_cast<double>(x));
                    }
                    c += x == x;
                }
                sum[l] = a;
                if constexpr (Op::counts) {
                    cnt[l] += c;
                }
            }
        }
    }
    for (; j < len; j++, row += row_stride) {
        for (npy_intp l = 0; l < m; l++) {
            const T x = load<T>(row + l * lane_stride);
            sum[l] += op_at(l).term(x);
            if constexpr (Op::counts) {
                cnt[l] += static_cast<npy_intp>(x == x);
            }
        }
    }
}

// reduce_lanes for a summing operation (and its second pass).
template <class Op>
inline void sum_lanes(const Op &op, slice_iter &it, typename Op::out *y) {
    const int last = it.last_outer;
    const npy_intp lanes = it.outer_len[last];
    const npy_intp lane_stride = it.outer_stride[last];
    const npy_intp len = it.slice_len;
    const npy_intp row_stride = it.slice_stride;
    it.last_outer = last - 1;
    it.slice_count /= lanes;
    double sum[lane_block];
    npy_intp cnt[lane_block];
    auto op_at = [&](npy_intp) -> const Op & { return op; };
    while (it.more()) {
        for (npy_intp c = 0; c < lanes; c += lane_block) {
            const npy_intp m = lanes - c < lane_block ? lanes - c : lane_block;
            for (npy_intp l = 0; l < m; l++) {
                sum[l] = op.init().sum;
                cnt[l] = 0;
            }
            const char *row = it.slice_start + c * lane_stride;
            sum_rows<Op>(op_at, sum, cnt, m, row, lane_stride, row_stride, len);
            if constexpr (two_pass<Op>) {
                using Op2 = decltype(op.second(op.init(), len));
                static_assert(summing<Op2>);
                Op2 op2[lane_block];
                double sum2[lane_block];
                bool any = false;
                for (npy_intp l = 0; l < m; l++) {
                    const typename Op::acc s{sum[l], cnt[l]};
                    op2[l] = op.second(s, len);
                    sum2[l] = op2[l].init().sum;
                    any = any || !op.skip_second(s, len);
                }
                // Every lane reads its elements again when one needs to; a
                // lane that skips its second pass ignores what it gathered.
                if (any) {
                    auto op2_at = [&](npy_intp l) -> const Op2 & { return op2[l]; };
                    sum_rows<Op2>(op2_at, sum2, cnt, m, row, lane_stride, row_stride, len);
                }
                for (npy_intp l = 0; l < m; l++) {
                    const typename Op::acc s{sum[l], cnt[l]};
                    y[c + l] = op.finish2(s, op.skip_second(s, len) ? op2[l].init() : typename Op2::acc{sum2[l], 0}, len);
                }
            } else {
                for (npy_intp l = 0; l < m; l++) {
                    y[c + l] = op.finish(typename Op::acc{sum[l], cnt[l]}, len);
                }
            }
        }
        y += lanes;
        it.next();
    }
}

template <class Op>
void reduce_lanes(const Op &op, slice_iter &it, typename Op::out *y) {
    if constexpr (summing<Op>) {
        // Compiled for the widest vectors available, which the compiler's
        // loops across lanes fill.
        isa_dispatch([&](auto) { sum_lanes(op, it, y); });
        return;
    }
    using A = typename Op::acc;
    const int last = it.last_outer;
    const npy_intp lanes = it.outer_len[last];
    const npy_intp lane_stride = it.outer_stride[last];
    const npy_intp len = it.slice_len;
    // Walk the remaining outer dimensions; each step covers a row of lanes.
    it.last_outer = last - 1;
    it.slice_count /= lanes;
    auto op_at = [&](npy_intp) -> const Op & { return op; };
    A s[lane_block];
    while (it.more()) {
        for (npy_intp c = 0; c < lanes; c += lane_block) {
            const npy_intp m = lanes - c < lane_block ? lanes - c : lane_block;
            for (npy_intp l = 0; l < m; l++) {
                s[l] = op.init();
            }
            const char *row = it.slice_start + c * lane_stride;
            add_lanes<Op>(op_at, s, m, row, lane_stride, it.slice_stride, len);
            finish_lanes(op, s, m, row, lane_stride, it.slice_stride, len, y + c);
        }
        y += lanes;
        it.next();
    }
}

// Feeds K slices, element j of each in turn; slice k is fed by op_at(k).
template <int K, class Op, class OpAt>
inline void add_interleaved(OpAt op_at, typename Op::acc (&s)[K], const char *const (&p)[K],
                            npy_intp len, npy_intp stride) {
    using T = typename Op::in;
    for (npy_intp j = 0; j < len; j++) {
        for (int k = 0; k < K; k++) {
            add_one(op_at(k), s[k], load<T>(p[k] + j * stride), j);
        }
    }
}

// Slices one after the other (the axis is the most tightly packed one). An
// accumulation in a fixed order is a chain of dependent adds, bound by their
// latency; K slices interleaved run K independent chains, each slice still in
// its own order, so the results do not change. Operations with their own
// vectorised scan or an early exit take the slices one at a time. V: the
// float64 lanes of the target's vectors (see sum_slices).
template <class Op, int V = 2>
inline void reduce_slices_n(const Op &op, slice_iter &it, typename Op::out *y) {
    using A = typename Op::acc;
    constexpr int K = summing<Op> ? 8 : 4;
    const npy_intp len = it.slice_len;
    const npy_intp stride = it.slice_stride;
    if constexpr (!has_run<Op> && !has_exit<Op>) {
        while (it.slice_count - it.slice_done >= K) {
            const char *p[K];
            A s[K];
            for (int k = 0; k < K; k++) {
                p[k] = it.slice_start;
                s[k] = op.init();
                it.next();
            }
            if constexpr (summing<Op>) {
                auto op_at = [&](int) -> const Op & { return op; };
                sum_slices<K, Op, decltype(op_at), V>(op_at, s, p, len, stride);
            } else {
                add_interleaved<K, Op>([&](int) -> const Op & { return op; }, s, p, len, stride);
            }
            if constexpr (two_pass<Op>) {
                using Op2 = decltype(op.second(s[0], len));
                Op2 op2[K];
                typename Op2::acc t[K];
                for (int k = 0; k < K; k++) {
                    op2[k] = op.second(s[k], len);
                    t[k] = op2[k].init();
                }
                // A slice that skips its second pass ignores what it gathered.
                auto op2_at = [&](int k) -> const Op2 & { return op2[k]; };
                if constexpr (summing<Op2>) {
                    sum_slices<K, Op2, decltype(op2_at), V>(op2_at, t, p, len, stride);
                } else {
                    add_interleaved<K, Op2>(op2_at, t, p, len, stride);
                }
                for (int k = 0; k < K; k++) {
                    *y++ = op.finish2(s[k], op.skip_second(s[k], len) ? op2[k].init() : t[k], len);
                }
            } else {
                for (int k = 0; k < K; k++) {
                    *y++ = op.finish(s[k], len);
                }
            }
        }
    }
    while (it.more()) {
        A s = op.init();
        add_slice(op, s, it.slice_start, len, stride);
        *y++ = finish_slice(op, s, it.slice_start, len, stride, len);
        it.next();
    }
}

// Summing operations run on 256-bit vectors where there are any: with
// AVX-512, eight slices as two chains of four lanes were measured 1.15x
// faster than one chain of eight. The others' vectorised scans choose for
// themselves.
template <class Op>
void reduce_slices(const Op &op, slice_iter &it, typename Op::out *y) {
    if constexpr (summing<Op>) {
        isa_dispatch([&](auto tag) {
            constexpr int bytes = decltype(tag)::vector_bytes;
            reduce_slices_n<Op, (bytes < 32 ? bytes : 32) / 8>(op, it, y);
        });
    } else {
        reduce_slices_n<Op>(op, it, y);
    }
}

}  // namespace detail

// Creates the output of an along-axis reduction: the input's shape without
// `axis`, C order, element type O. Null with NumPy's exception on failure.
template <class O>
py_ref new_reduced_output(const slice_iter &it) {
    return py_ref::steal(PyArray_Empty(it.last_outer + 1, const_cast<npy_intp *>(it.outer_len),
                                       PyArray_DescrFromType(out_typenum<O>), 0));
}

// Reduces every slice of `a` along `axis` into a new array.
template <class Op>
PyObject *reduce_axis(PyArrayObject *a, int axis, const Op &op = Op{}) {
    using O = typename Op::out;
    slice_iter it;
    slice_iter_init_axis(it, a, axis);
    py_ref out = new_reduced_output<O>(it);
    if (!out) {
        return nullptr;
    }
    O *y = reinterpret_cast<O *>(PyArray_DATA(out.array()));
    {
        gil_released nogil;
        if (it.slice_len == 0) {
            const npy_intp n = PyArray_SIZE(out.array());
            for (npy_intp i = 0; i < n; i++) {
                y[i] = op.empty();
            }
        } else if (detail::lanes_pay(it)) {
            detail::reduce_lanes(op, it, y);
        } else {
            detail::reduce_slices(op, it, y);
        }
    }
    return out.release();
}

// The two kernel signatures of the reduce module.
using reduce_whole_fn = PyObject *(*)(PyArrayObject *a, int ddof);
using reduce_axis_fn = PyObject *(*)(PyArrayObject *a, int axis, int ddof);

// Kernels of an accumulating reduction, in the two signatures.
template <class Op>
PyObject *whole_kernel(PyArrayObject *a, int) {
    return reduce_whole<Op>(a);
}
template <class Op>
PyObject *axis_kernel(PyArrayObject *a, int axis, int) {
    return reduce_axis<Op>(a, axis);
}

}  // namespace corvane
