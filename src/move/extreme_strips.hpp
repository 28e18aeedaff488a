// move_min, move_max, move_argmin, move_argmax over lanes that sit next to
// each other in memory (a window along a non-innermost axis of a C-ordered
// array), with AVX-512.
//
// One vector holds eight neighbouring lanes, so a row of the input is read
// and the output written with plain (masked) loads and stores. The lanes are
// walked in strips of a few vectors, each strip down the whole slice length,
// so that one block's table (see extremes.hpp) stays in the first- or
// second-level cache: w rows of a strip, not w rows of every lane. Per block
// a forward pass keeps the running extreme, its position and the count in
// registers and meets the previous block's suffixes from the table, writing
// the outputs; a backward pass over the same rows, still in the cache, then
// writes the block's own suffixes over them. The last block needs no
// suffixes. Each input row is thus read twice, once from memory, and only one
// table is written.
//
// A table row holds, for each vector of the strip, the suffix extreme (eight
// float64), and where they are needed its position and the count of non-NaN
// values (eight int32 each). Positions are counted from the start of the
// block that reads them, so the previous block's run from -w to -1 and a
// window's output is the offset in the block minus the position. Every
// comparison is the scalar walk's, on the same float64 values, so the
// results are the same bits.
#pragma once

#include "frame/intrinsics.hpp"

#include <cstdint>

#include "frame/cpu.hpp"
#include "move/kernel_frame.hpp"


namespace corvane {

template <class Op>
struct extreme_strips {
    using T = typename Op::in;
    using O = typename Op::O;
    static constexpr bool Max = Op::max;
    static constexpr bool Arg = Op::arg;
    // Integers have no NaN: their counts are the window's length.
    static constexpr bool counted = is_float<T>;
    static constexpr npy_intp vector_lanes = 8;
    // Vectors per strip: four chains of dependent compares in flight, and a
    // window of 100 keeps its table (50 KiB) in the second-level cache.
    static constexpr int width = 4;
    // Rows between the one read and the one fetched ahead: the processor's
    // own prefetchers do not follow a stride of a whole row.
    static constexpr npy_intp ahead = 8;
    // Bytes of one vector's entries in a table row.
    static constexpr npy_intp entry_bytes = 64 + (Arg ? 32 : 0) + (counted ? 32 : 0);

    // Lanes with their elements side by side, input and output.
    static bool fits(const move_lanes<T> &s) {
        return s.in_lane == static_cast<npy_intp>(sizeof(T)) &&
               s.out_lane == static_cast<npy_intp>(sizeof(O));
    }
    static npy_intp table_bytes(npy_intp w, npy_intp count) {
        const npy_intp vectors = (count + vector_lanes - 1) / vector_lanes;
        return (w + 1) * (vectors < width ? vectors : width) * entry_bytes;
    }

    // The entries of vector v in row r of a strip of V vectors.
    template <int V>
    struct table {
        char *base;
        static constexpr npy_intp row = V * entry_bytes;
        double *val(npy_intp r, int v) const {
            return reinterpret_cast<double *>(base + r * row + v * 64);
        }
        __m256i *pos(npy_intp r, int v) const {
            return reinterpret_cast<__m256i *>(base + r * row + V * 64 + v * 32);
        }
        __m256i *cnt(npy_intp r, int v) const {
            return reinterpret_cast<__m256i *>(base + r * row + V * (Arg ? 96 : 64) + v * 32);
        }
    };

    // The running extreme of eight lanes from the start of a block: its
    // value, position and count, and the lanes that have one.
    struct prefix {
        __m512d best;
        __m256i pos;
        __m256i cnt;
        __mmask8 has;
    };
    CORVANE_AVX512 static prefix no_prefix() {
        return {_mm512_set1_pd(Op::worst), _mm256_setzero_si256(), _mm256_setzero_si256(), 0};
    }
    // Row j of the block (x) enters r; returns the outputs there, the window
    // being the previous block's suffixes from j + 1 (row j + 1 of the
    // table; none for the first block) followed by r. lead: the outputs
    // before min_count values (integers; floats go by the count).
    template <bool First>
    CORVANE_AVX512 static __m512d prefix_step(prefix &r, npy_intp j, __m512d x, const double *lv_at,
                                              const __m256i *lp_at, const __m256i *lc_at,
                                              __mmask8 lead, npy_intp m) {
        const __m256i jv = _mm256_set1_epi32(static_cast<int32_t>(j));
        const __m256i zero = _mm256_setzero_si256();
        const __mmask8 real = _mm512_cmp_pd_mask(x, x, _CMP_ORD_Q);
        if constexpr (Arg) {
            r.pos = _mm256_mask_mov_epi32(r.pos, Op::less_equal(x, r.best), jv);
            r.has |= real;
        }
        // A NaN leaves the extreme as it is, as in the scalar walk.
        r.best = Max ? _mm512_mask_max_pd(r.best, real, r.best, x)
                     : _mm512_mask_min_pd(r.best, real, r.best, x);
        const __m512d lv = First ? _mm512_set1_pd(Op::worst) : _mm512_loadu_pd(lv_at);
        __mmask8 none = lead;
        if constexpr (counted) {
            r.cnt = _mm256_mask_add_epi32(r.cnt, real, r.cnt, _mm256_set1_epi32(1));
            const __m256i lc = First ? zero : _mm256_loadu_si256(lc_at);
            none = _mm256_cmplt_epi32_mask(_mm256_add_epi32(lc, r.cnt),
                                           _mm256_set1_epi32(static_cast<int32_t>(m)));
        }
        __m512d y;
        if constexpr (Arg) {
            // Without a value of the block, the previous block's position;
            // with neither, the count makes the output NaN.
            const __m256i lp = First ? zero : _mm256_loadu_si256(lp_at);
            const __mmask8 right_wins = r.has & Op::less_equal(r.best, lv);
            y = _mm512_cvtepi32_pd(_mm256_sub_epi32(jv, _mm256_mask_mov_epi32(lp, right_wins, r.pos)));
        } else {
            y = Op::pick(lv, r.best);
        }
        return _mm512_mask_mov_pd(y, none, _mm512_set1_pd(nan_of<double>()));
    }
    // Row j of a block of w rows (x) enters the suffix r, which is then
    // stored at the table's entries, its position counted from the next
    // block's start.
    CORVANE_AVX512 static void suffix_step(prefix &r, npy_intp j, npy_intp w, __m512d x,
                                           double *val_at, __m256i *pos_at, __m256i *cnt_at) {
        const __mmask8 real = _mm512_cmp_pd_mask(x, x, _CMP_ORD_Q);
        if constexpr (Arg) {
            const __mmask8 take = Op::less(x, r.best) | (real & ~r.has);
            r.pos = _mm256_mask_mov_epi32(r.pos, take, _mm256_set1_epi32(static_cast<int32_t>(j - w)));
            r.has |= real;
            _mm256_storeu_si256(pos_at, r.pos);
        }
        r.best = Op::pick(x, r.best);
        _mm512_storeu_pd(val_at, r.best);
        if constexpr (counted) {
            r.cnt = _mm256_mask_add_epi32(r.cnt, real, r.cnt, _mm256_set1_epi32(1));
            _mm256_storeu_si256(cnt_at, r.cnt);
        }
    }

    // The outputs of rows start .. start + len - 1; First: the slice's first
    // block, which has no block before it.
    template <int V, bool First>
    CORVANE_AVX512 static void forward(const move_lanes<T> &s, const move_params &p, table<V> t,
                                       npy_intp start, npy_intp len, __mmask8 tail) {
        const npy_intp m = p.min_count;
        prefix r[V];
        for (int v = 0; v < V; v++) {
            r[v] = no_prefix();
        }
        for (npy_intp j = 0; j < len; j++) {
            const char *in = s.in + (start + j) * s.in_step;
            char *out = s.out + (start + j) * s.out_step;
            const __mmask8 lead = First && j < m - 1 ? 0xFF : 0;
            {
                const npy_intp f = start + j + ahead < s.n ? start + j + ahead : s.n - 1;
                const char *in_ahead = s.in + f * s.in_step;
                char *out_ahead = s.out + f * s.out_step;
                for (npy_intp b = 0; b < V * vector_lanes * npy_intp(sizeof(T)); b += 64) {
                    _mm_prefetch(in_ahead + b, _MM_HINT_T0);
                }
                for (npy_intp b = 0; b < V * vector_lanes * npy_intp(sizeof(O)); b += 64) {
                    _mm_prefetch(out_ahead + b, _MM_HINT_T0);
                }
            }
            for (int v = 0; v < V; v++) {
                const __mmask8 k = v == V - 1 ? tail : 0xFF;
                const __m512d x = Op::load_row(in + v * vector_lanes * npy_intp(sizeof(T)), k);
                const __m512d y = prefix_step<First>(r[v], j, x, t.val(j + 1, v), t.pos(j + 1, v),
                                                     t.cnt(j + 1, v), lead, m);
                Op::store_row(out + v * vector_lanes * npy_intp(sizeof(O)), k, y);
            }
        }
    }

    // The suffixes of the w rows from start into the table.
    template <int V>
    CORVANE_AVX512 static void backward(const move_lanes<T> &s, npy_intp w, table<V> t,
                                        npy_intp start, __mmask8 tail) {
        prefix r[V];
        for (int v = 0; v < V; v++) {
            r[v] = no_prefix();
        }
        for (npy_intp j = w - 1; j >= 0; j--) {
            const char *in = s.in + (start + j) * s.in_step;
            for (int v = 0; v < V; v++) {
                const __mmask8 k = v == V - 1 ? tail : 0xFF;
                const __m512d x = Op::load_row(in + v * vector_lanes * npy_intp(sizeof(T)), k);
                suffix_step(r[v], j, w, x, t.val(j, v), t.pos(j, v), t.cnt(j, v));
            }
        }
    }

    // One strip of V vectors, the last of them holding the lanes in `tail`.
    template <int V>
    CORVANE_AVX512 static void strip(const move_lanes<T> &s, const move_params &p, char *scratch,
                                     __mmask8 tail) {
        const npy_intp w = p.window;
        const table<V> t{scratch};
        // Row w, the window that is exactly one block, is empty for good.
        for (int v = 0; v < V; v++) {
            _mm512_storeu_pd(t.val(w, v), _mm512_set1_pd(Op::worst));
            if constexpr (Arg) {
                _mm256_storeu_si256(t.pos(w, v), _mm256_setzero_si256());
            }
            if constexpr (counted) {
                _mm256_storeu_si256(t.cnt(w, v), _mm256_setzero_si256());
            }
        }
        for (npy_intp start = 0; start < s.n; start += w) {
            const npy_intp len = s.n - start < w ? s.n - start : w;
            if (start == 0) {
                forward<V, true>(s, p, t, start, len, tail);
            } else {
                forward<V, false>(s, p, t, start, len, tail);
            }
            if (start + len < s.n) {
                backward<V>(s, w, t, start, tail);
            }
        }
    }

    // Slices side by side that are each contiguous (a window along the
    // last axis): lane q of a vector is slice q, read in tiles of eight
    // positions of eight slices and transposed in registers, the outputs
    // transposed back. Several groups of eight run at once, their chains
    // independent.
    static constexpr int row_groups = 2;
    static constexpr npy_intp rows_at_once = row_groups * vector_lanes;
    static npy_intp rows_table_bytes(npy_intp w) { return (w + 1) * row_groups * entry_bytes; }

    // Rows start .. start + len - 1 of the slices at in (count of them; the
    // others repeat slice 0 and write nothing); positions at `at` of
    // slice q are at in[q] + at * sizeof(T).
    template <bool First>
    CORVANE_AVX512 static void rows_forward(const char *const *in, char *const *out, npy_intp count,
                                            const move_params &p, table<row_groups> t,
                                            npy_intp start, npy_intp len) {
        constexpr int V = row_groups;
        const npy_intp m = p.min_count;
        prefix r[V];
        for (int v = 0; v < V; v++) {
            r[v] = no_prefix();
        }
        for (npy_intp j0 = 0; j0 < len; j0 += vector_lanes) {
            const npy_intp k = len - j0 < vector_lanes ? len - j0 : vector_lanes;
            const __mmask8 mask = static_cast<__mmask8>((1u << k) - 1);
            const npy_intp at = start + j0;
            __m512d c[V][vector_lanes];
            for (int v = 0; v < V; v++) {
                for (int q = 0; q < vector_lanes; q++) {
                    c[v][q] = Op::load_row(in[v * vector_lanes + q] + at * npy_intp(sizeof(T)), mask);
                }
                Op::transpose(c[v]);
            }
            for (npy_intp d = 0; d < vector_lanes; d++) {
                const npy_intp j = j0 + d;
                const __mmask8 lead = First && j < m - 1 ? 0xFF : 0;
                for (int v = 0; v < V; v++) {
                    c[v][d] = d < k ? prefix_step<First>(r[v], j, c[v][d], t.val(j + 1, v),
                                                         t.pos(j + 1, v), t.cnt(j + 1, v), lead, m)
                                    : _mm512_setzero_pd();
                }
            }
            for (int v = 0; v < V; v++) {
                Op::transpose(c[v]);
                for (int q = 0; q < vector_lanes; q++) {
                    if (v * vector_lanes + q < count) {
                        Op::store_row(out[v * vector_lanes + q] + at * npy_intp(sizeof(O)), mask,
                                      c[v][q]);
                    }
                }
            }
        }
    }

    // All n positions of the slices at in (see rows_forward).
    CORVANE_AVX512 __attribute__((flatten)) static void rows(const char *const *in,
                                                             char *const *out, npy_intp count,
                                                             npy_intp n, const move_params &p,
                                                             void *scratch) {
        constexpr int V = row_groups;
        const npy_intp w = p.window;
        const table<V> t{static_cast<char *>(scratch)};
        for (int v = 0; v < V; v++) {
            _mm512_storeu_pd(t.val(w, v), _mm512_set1_pd(Op::worst));
            if constexpr (Arg) {
                _mm256_storeu_si256(t.pos(w, v), _mm256_setzero_si256());
            }
            if constexpr (counted) {
                _mm256_storeu_si256(t.cnt(w, v), _mm256_setzero_si256());
            }
        }
        for (npy_intp start = 0; start < n; start += w) {
            const npy_intp len = n - start < w ? n - start : w;
            if (start == 0) {
                rows_forward<true>(in, out, count, p, t, start, len);
            } else {
                rows_forward<false>(in, out, count, p, t, start, len);
            }
            if (start + len == n) {
                break;
            }
            prefix r[V];
            for (int v = 0; v < V; v++) {
                r[v] = no_prefix();
            }
            for (npy_intp j0 = (w - 1) / vector_lanes * vector_lanes; j0 >= 0; j0 -= vector_lanes) {
                const npy_intp k = w - j0 < vector_lanes ? w - j0 : vector_lanes;
                const __mmask8 mask = static_cast<__mmask8>((1u << k) - 1);
                const npy_intp at = start + j0;
                __m512d c[V][vector_lanes];
                for (int v = 0; v < V; v++) {
                    for (int q = 0; q < vector_lanes; q++) {
                        c[v][q] =
                            Op::load_row(in[v * vector_lanes + q] + at * npy_intp(sizeof(T)), mask);
                    }
                    Op::transpose(c[v]);
                }
                for (npy_intp d = k - 1; d >= 0; d--) {
                    const npy_intp j = j0 + d;
                    for (int v = 0; v < V; v++) {
                        suffix_step(r[v], j, w, c[v][d], t.val(j, v), t.pos(j, v), t.cnt(j, v));
                    }
                }
            }
        }
    }

    // Lanes c .. c + count - 1 of s.
    static move_lanes<T> lanes_from(const move_lanes<T> &s, npy_intp c, npy_intp count) {
        move_lanes<T> r = s;
        r.in += c * s.in_lane;
        r.out += c * s.out_lane;
        r.count = count;
        return r;
    }

    // A strip of the given number of vectors (1 .. V).
    template <int V>
    CORVANE_AVX512 static void strip_of(const move_lanes<T> &s, const move_params &p, char *table,
                                        npy_intp vectors, __mmask8 tail) {
        if constexpr (V > 1) {
            if (vectors < V) {
                strip_of<V - 1>(s, p, table, vectors, tail);
                return;
            }
        }
        strip<V>(s, p, table, tail);
    }

    // All lanes of s (fits(s)), with a scratch block of table_bytes.
    CORVANE_AVX512 static void run(const move_lanes<T> &s, const move_params &p, void *scratch) {
        char *table = static_cast<char *>(scratch);
        constexpr npy_intp strip_lanes = width * vector_lanes;
        npy_intp c = 0;
        for (; c + strip_lanes <= s.count; c += strip_lanes) {
            strip<width>(lanes_from(s, c, strip_lanes), p, table, 0xFF);
        }
        const npy_intp rest = s.count - c;
        if (rest == 0) {
            return;
        }
        const npy_intp last = rest % vector_lanes;
        const __mmask8 tail = last == 0 ? 0xFF : static_cast<__mmask8>((1u << last) - 1);
        strip_of<width>(lanes_from(s, c, rest), p, table, (rest + vector_lanes - 1) / vector_lanes, tail);
    }
};

// The kernels' entry: slices along the last axis, contiguous and at least
// rows_at_once of them, run side by side (extreme_strips::rows); anything
// else goes to move_run.
template <class Op>
PyObject *extreme_run(PyArrayObject *a, int window, int min_count, int axis, int ddof) {
    using T = typename Op::in;
    using S = extreme_strips<Op>;
    const int ndim = PyArray_NDIM(a);
    const npy_intp n = PyArray_DIM(a, axis);
    const npy_intp slices = n > 0 ? PyArray_SIZE(a) / n : 0;
    if (axis != ndim - 1 || PyArray_STRIDE(a, axis) != npy_intp(sizeof(T)) ||
        slices < S::rows_at_once || !Op::tabled(window) || !have_avx512()) {
        return move_run<Op>(a, window, min_count, axis, ddof);
    }
    const move_params p{window, min_count, ddof};
    // The slices left over after the last whole group of rows_at_once go
    // one at a time when that costs less than a group: long slices, whose
    // blocks keep the single-slice walk's vectors (nearly) full, and few of
    // them (a slice there costs about 4/3 of its share in a group).
    const npy_intp left = slices % S::rows_at_once;
    const npy_intp blocks = n / window;
    const npy_intp padded = (blocks + Op::group - 1) / Op::group * Op::group;
    const bool alone = left > 0 && window <= Op::max_grouped && blocks >= Op::group &&
                       4 * left * padded < 3 * S::rows_at_once * blocks;
    scratch_block one;
    scratch_block scratch;
    if ((alone && !one.allocate(Op::scratch_bytes(p))) ||
        !scratch.allocate(S::rows_table_bytes(window))) {
        PyErr_Format(PyExc_MemoryError, "Could not allocate memory for %s", Op::name);
        return nullptr;
    }
    py_ref out = py_ref::steal(PyArray_Empty(ndim, PyArray_SHAPE(a),
                                             PyArray_DescrFromType(out_typenum<move_out<T>>), 0));
    if (!out) {
        return nullptr;
    }
    pair_iter it;
    pair_iter_init(it, a, out.array(), axis);
    {
        gil_released nogil;
        while (it.more()) {
            const char *in[S::rows_at_once];
            char *to[S::rows_at_once];
            npy_intp count = 0;
            for (; count < S::rows_at_once && it.more(); count++) {
                in[count] = it.in_ptr;
                to[count] = it.out_ptr;
                it.next();
            }
            if (count < S::rows_at_once && alone) {
                for (npy_intp q = 0; q < count; q++) {
                    const move_slice<T> one_slice{in[q], it.in_step, to[q], it.out_step, n};
                    Op::slice(one_slice, p, one.get());
                }
                break;
            }
            for (npy_intp q = count; q < S::rows_at_once; q++) {
                in[q] = in[0];
                to[q] = nullptr;
            }
            S::rows(in, to, count, n, p, scratch.get());
        }
    }
    return out.release();
}

}  // namespace corvane
