// move_min, move_max, move_argmin, move_argmax over many slices side by
// side, one slice per vector lane, with AVX-512.
//
// Lanes (extreme_strips::run): slices next to each other in memory (a window
// along a non-innermost axis of a C-ordered array), so a row of the input is
// read and the output written with plain (masked) loads and stores. The
// lanes are walked in strips of a few vectors, each strip down the whole
// slice length, so that one block's table (see extremes.hpp) stays in the
// first- or second-level cache: w rows of a strip, not w rows of every lane.
// Per block a forward pass keeps the running extreme, its position and the
// count in registers and meets the previous block's suffixes from the table,
// writing the outputs; a backward pass over the same rows, still in the
// cache, then writes the block's own suffixes over them. The last block needs
// no suffixes. Each input row is thus read twice, once from memory, and only
// one table is written.
//
// Rows (extreme_strips::rows, entered through extreme_run): contiguous
// slices along the last axis, sixteen at a time, read in square tiles that
// are transposed in registers; the same passes. One long contiguous slice
// runs the same way as sixteen pieces of whole blocks (extreme_strips::chain),
// each piece starting from the suffixes of the last block of the one before.
//
// A table row holds, for each vector, the suffix extreme, and where they are
// needed its position and the count of non-NaN values (int32). Positions are
// counted from the start of the block that reads them, so the previous
// block's run from -w to -1 and a window's output is the offset in the block
// minus the position. Every comparison is the scalar walk's, on the same
// values (float32 lanes compare in float32, sixteen to a vector; the order is
// that of float64), so the results are the same bits.
#pragma once

#include "frame/intrinsics.hpp"

#include <cstdint>
#include <type_traits>

#include "frame/cpu.hpp"
#include "move/kernel_frame.hpp"

namespace corvane {

// The vector forms of the comparisons: eight lanes in float64 (any element
// type), or sixteen in float32 for float32 inputs, whose comparisons are the
// same in float32 as in float64 (the conversion is exact and keeps the
// order, NaN and the sign of zero). Positions and counts are int32.
template <class Op, bool Narrow>
struct lane_vector {
    using T = typename Op::in;
    using O = typename Op::O;
    using val = __m512d;
    using idx = __m256i;
    using mask = __mmask8;
    static constexpr npy_intp lanes = 8;
    static constexpr npy_intp idx_bytes = 32;
    CORVANE_AVX512 static val set(double v) { return _mm512_set1_pd(v); }
    CORVANE_AVX512 static val nan() { return _mm512_set1_pd(nan_of<double>()); }
    CORVANE_AVX512 static mask real(val x) { return _mm512_cmp_pd_mask(x, x, _CMP_ORD_Q); }
    CORVANE_AVX512 static mask less(val a, val b) { return Op::less(a, b); }
    CORVANE_AVX512 static mask less_equal(val a, val b) { return Op::less_equal(a, b); }
    CORVANE_AVX512 static val pick(val a, val b) { return Op::pick(a, b); }
    // pick(best, x) where k is set, else best.
    CORVANE_AVX512 static val pick_where(val best, mask k, val x) {
        return Op::max ? _mm512_mask_max_pd(best, k, best, x)
                       : _mm512_mask_min_pd(best, k, best, x);
    }
    CORVANE_AVX512 static val blend(val a, mask k, val b) { return _mm512_mask_mov_pd(a, k, b); }
    CORVANE_AVX512 static val load(const char *p) { return _mm512_loadu_pd(p); }
    CORVANE_AVX512 static void store(char *p, val v) { _mm512_storeu_pd(p, v); }
    CORVANE_AVX512 static idx iset(npy_intp v) {
        return _mm256_set1_epi32(static_cast<int32_t>(v));
    }
    CORVANE_AVX512 static idx iblend(idx a, mask k, idx b) {
        return _mm256_mask_mov_epi32(a, k, b);
    }
    CORVANE_AVX512 static idx iadd(idx a, mask k, idx b) {
        return _mm256_mask_add_epi32(a, k, a, b);
    }
    CORVANE_AVX512 static idx iadd(idx a, idx b) { return _mm256_add_epi32(a, b); }
    CORVANE_AVX512 static idx isub(idx a, idx b) { return _mm256_sub_epi32(a, b); }
    CORVANE_AVX512 static mask iless(idx a, idx b) { return _mm256_cmplt_epi32_mask(a, b); }
    CORVANE_AVX512 static idx iload(const char *p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    }
    CORVANE_AVX512 static void istore(char *p, idx v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
    }
    // Distances, exact in either float type.
    CORVANE_AVX512 static val from_idx(idx v) { return _mm512_cvtepi32_pd(v); }
    CORVANE_AVX512 static val load_in(const char *p, mask k) { return Op::load_row(p, k); }
    CORVANE_AVX512 static void store_out(char *p, mask k, val y) { Op::store_row(p, k, y); }
    CORVANE_AVX512 static void transpose(val *r) { Op::transpose(r); }
};

template <class Op>
struct lane_vector<Op, true> {
    using val = __m512;
    using idx = __m512i;
    using mask = __mmask16;
    static constexpr npy_intp lanes = 16;
    static constexpr npy_intp idx_bytes = 64;
    static constexpr int lt = Op::max ? _CMP_GT_OQ : _CMP_LT_OQ;
    static constexpr int le = Op::max ? _CMP_GE_OQ : _CMP_LE_OQ;
    CORVANE_AVX512 static val set(double v) { return _mm512_set1_ps(static_cast<float>(v)); }
    CORVANE_AVX512 static val nan() { return _mm512_set1_ps(nan_of<float>()); }
    CORVANE_AVX512 static mask real(val x) { return _mm512_cmp_ps_mask(x, x, _CMP_ORD_Q); }
    CORVANE_AVX512 static mask less(val a, val b) { return _mm512_cmp_ps_mask(a, b, lt); }
    CORVANE_AVX512 static mask less_equal(val a, val b) { return _mm512_cmp_ps_mask(a, b, le); }
    CORVANE_AVX512 static val pick(val a, val b) {
        return Op::max ? _mm512_max_ps(a, b) : _mm512_min_ps(a, b);
    }
    CORVANE_AVX512 static val pick_where(val best, mask k, val x) {
        return Op::max ? _mm512_mask_max_ps(best, k, best, x)
                       : _mm512_mask_min_ps(best, k, best, x);
    }
    CORVANE_AVX512 static val blend(val a, mask k, val b) { return _mm512_mask_mov_ps(a, k, b); }
    CORVANE_AVX512 static val load(const char *p) { return _mm512_loadu_ps(p); }
    CORVANE_AVX512 static void store(char *p, val v) { _mm512_storeu_ps(p, v); }
    CORVANE_AVX512 static idx iset(npy_intp v) {
        return _mm512_set1_epi32(static_cast<int32_t>(v));
    }
    CORVANE_AVX512 static idx iblend(idx a, mask k, idx b) {
        return _mm512_mask_mov_epi32(a, k, b);
    }
    CORVANE_AVX512 static idx iadd(idx a, mask k, idx b) {
        return _mm512_mask_add_epi32(a, k, a, b);
    }
    CORVANE_AVX512 static idx iadd(idx a, idx b) { return _mm512_add_epi32(a, b); }
    CORVANE_AVX512 static idx isub(idx a, idx b) { return _mm512_sub_epi32(a, b); }
    CORVANE_AVX512 static mask iless(idx a, idx b) { return _mm512_cmplt_epi32_mask(a, b); }
    CORVANE_AVX512 static idx iload(const char *p) { return _mm512_loadu_si512(p); }
    CORVANE_AVX512 static void istore(char *p, idx v) { _mm512_storeu_si512(p, v); }
    CORVANE_AVX512 static val from_idx(idx v) { return _mm512_cvtepi32_ps(v); }
    CORVANE_AVX512 static val load_in(const char *p, mask k) { return _mm512_maskz_loadu_ps(k, p); }
    CORVANE_AVX512 static void store_out(char *p, mask k, val y) { _mm512_mask_storeu_ps(p, k, y); }
    // Rows to columns of a 16 x 16 tile, in place (its own inverse).
    CORVANE_AVX512 static void transpose(val *r) {
        __m512 t[16];
        for (int i = 0; i < 16; i += 2) {
            t[i] = _mm512_unpacklo_ps(r[i], r[i + 1]);
            t[i + 1] = _mm512_unpackhi_ps(r[i], r[i + 1]);
        }
        // u[4i + c], 128-bit lane k: column 4k + c of rows 4i .. 4i + 3.
        __m512 u[16];
        for (int i = 0; i < 16; i += 4) {
            const __m512d a = _mm512_castps_pd(t[i]);
            const __m512d b = _mm512_castps_pd(t[i + 1]);
            const __m512d c = _mm512_castps_pd(t[i + 2]);
            const __m512d d = _mm512_castps_pd(t[i + 3]);
            u[i] = _mm512_castpd_ps(_mm512_unpacklo_pd(a, c));
            u[i + 1] = _mm512_castpd_ps(_mm512_unpackhi_pd(a, c));
            u[i + 2] = _mm512_castpd_ps(_mm512_unpacklo_pd(b, d));
            u[i + 3] = _mm512_castpd_ps(_mm512_unpackhi_pd(b, d));
        }
        for (int c = 0; c < 4; c++) {
            const __m512 v0 = _mm512_shuffle_f32x4(u[c], u[4 + c], 0x88);
            const __m512 v1 = _mm512_shuffle_f32x4(u[c], u[4 + c], 0xDD);
            const __m512 w0 = _mm512_shuffle_f32x4(u[8 + c], u[12 + c], 0x88);
            const __m512 w1 = _mm512_shuffle_f32x4(u[8 + c], u[12 + c], 0xDD);
            r[c] = _mm512_shuffle_f32x4(v0, w0, 0x88);
            r[8 + c] = _mm512_shuffle_f32x4(v0, w0, 0xDD);
            r[4 + c] = _mm512_shuffle_f32x4(v1, w1, 0x88);
            r[12 + c] = _mm512_shuffle_f32x4(v1, w1, 0xDD);
        }
    }
};

template <class Op>
struct extreme_strips {
    using T = typename Op::in;
    using O = typename Op::O;
    static constexpr bool Max = Op::max;
    static constexpr bool Arg = Op::arg;
    // Integers have no NaN: their counts are the window's length.
    static constexpr bool counted = is_float<T>;
    using lane_vec = lane_vector<Op, std::is_same_v<T, float>>;
    // Vectors per strip: four chains of dependent compares in flight, and a
    // window of 100 keeps its table (50-75 KiB) in the second-level cache.
    static constexpr int width = 4;
    // Rows between the one read and the one fetched ahead: the processor's
    // own prefetchers do not follow a stride of a whole row.
    static constexpr npy_intp ahead = 8;
    // Bytes of one vector's entries in a table row.
    template <class W>
    static constexpr npy_intp entry_bytes = 64 + ((Arg ? 1 : 0) + (counted ? 1 : 0)) * W::idx_bytes;

    // Lanes with their elements side by side, input and output.
    static bool fits(const move_lanes<T> &s) {
        return s.in_lane == static_cast<npy_intp>(sizeof(T)) &&
               s.out_lane == static_cast<npy_intp>(sizeof(O));
    }
    static npy_intp table_bytes(npy_intp w, npy_intp count) {
        const npy_intp vectors = (count + lane_vec::lanes - 1) / lane_vec::lanes;
        return (w + 1) * (vectors < width ? vectors : width) * entry_bytes<lane_vec>;
    }

    // The entries of vector v in row r of a strip of V vectors.
    template <class W, int V>
    struct table {
        char *base;
        static constexpr npy_intp row = V * entry_bytes<W>;
        char *val(npy_intp r, int v) const { return base + r * row + v * 64; }
        char *pos(npy_intp r, int v) const { return base + r * row + V * 64 + v * W::idx_bytes; }
        char *cnt(npy_intp r, int v) const {
            return base + r * row + V * (Arg ? 64 + W::idx_bytes : 64) + v * W::idx_bytes;
        }
        // Row w, the window that is exactly one block, is empty for good.
        CORVANE_AVX512 void close(npy_intp w) const {
            for (int v = 0; v < V; v++) {
                W::store(val(w, v), W::set(Op::worst));
                if constexpr (Arg) {
                    W::istore(pos(w, v), W::iset(0));
                }
                if constexpr (counted) {
                    W::istore(cnt(w, v), W::iset(0));
                }
            }
        }
    };

    // The running extreme of a vector's lanes from the start of a block:
    // its value, position and count, and the lanes that have one.
    template <class W>
    struct prefix {
        typename W::val best;
        typename W::idx pos;
        typename W::idx cnt;
        typename W::mask has;
    };
    template <class W>
    CORVANE_AVX512 static prefix<W> no_prefix() {
        return {W::set(Op::worst), W::iset(0), W::iset(0), 0};
    }
    // Row j of the block (x) enters r; returns the outputs there, the window
    // being the previous block's suffixes from j + 1 (row j + 1 of the
    // table; none for the first block) followed by r. lead: the outputs
    // before min_count values (integers; floats go by the count).
    template <class W, bool First>
    CORVANE_AVX512 static typename W::val prefix_step(prefix<W> &r, npy_intp j, typename W::val x,
                                                      const char *lv_at, const char *lp_at,
                                                      const char *lc_at, typename W::mask lead,
                                                      npy_intp m) {
        const typename W::mask real = W::real(x);
        if constexpr (Arg) {
            r.pos = W::iblend(r.pos, W::less_equal(x, r.best), W::iset(j));
            r.has |= real;
        }
        // A NaN leaves the extreme as it is, as in the scalar walk.
        r.best = W::pick_where(r.best, real, x);
        const typename W::val lv = First ? W::set(Op::worst) : W::load(lv_at);
        typename W::mask none = lead;
        if constexpr (counted) {
            r.cnt = W::iadd(r.cnt, real, W::iset(1));
            const typename W::idx lc = First ? W::iset(0) : W::iload(lc_at);
            none = W::iless(W::iadd(lc, r.cnt), W::iset(m));
        }
        typename W::val y;
        if constexpr (Arg) {
            // Without a value of the block, the previous block's position;
            // with neither, the count makes the output NaN.
            const typename W::idx lp = First ? W::iset(0) : W::iload(lp_at);
            const typename W::mask right_wins = r.has & W::less_equal(r.best, lv);
            y = W::from_idx(W::isub(W::iset(j), W::iblend(lp, right_wins, r.pos)));
        } else {
            y = W::pick(lv, r.best);
        }
        return W::blend(y, none, W::nan());
    }
    // Row j of a block of w rows (x) enters the suffix r, which is then
    // stored in row j, its position counted from the next block's start.
    template <class W>
    CORVANE_AVX512 static void suffix_step(prefix<W> &r, npy_intp j, npy_intp w,
                                           typename W::val x, char *val_at, char *pos_at,
                                           char *cnt_at) {
        const typename W::mask real = W::real(x);
        if constexpr (Arg) {
            const typename W::mask take = W::less(x, r.best) | (real & ~r.has);
            r.pos = W::iblend(r.pos, take, W::iset(j - w));
            r.has |= real;
            W::istore(pos_at, r.pos);
        }
        r.best = W::pick(x, r.best);
        W::store(val_at, r.best);
        if constexpr (counted) {
            r.cnt = W::iadd(r.cnt, real, W::iset(1));
            W::istore(cnt_at, r.cnt);
        }
    }

    // The outputs of rows start .. start + len - 1; First: the slice's first
    // block, which has no block before it.
    template <int V, bool First>
    CORVANE_AVX512 static void forward(const move_lanes<T> &s, const move_params &p,
                                       table<lane_vec, V> t, npy_intp start, npy_intp len,
                                       typename lane_vec::mask tail) {
        using W = lane_vec;
        const npy_intp m = p.min_count;
        prefix<W> r[V];
        for (int v = 0; v < V; v++) {
            r[v] = no_prefix<W>();
        }
        for (npy_intp j = 0; j < len; j++) {
            const char *in = s.in + (start + j) * s.in_step;
            char *out = s.out + (start + j) * s.out_step;
            const typename W::mask lead =
                First && j < m - 1 ? static_cast<typename W::mask>(-1) : 0;
            {
                const npy_intp f = start + j + ahead < s.n ? start + j + ahead : s.n - 1;
                const char *in_ahead = s.in + f * s.in_step;
                char *out_ahead = s.out + f * s.out_step;
                for (npy_intp b = 0; b < V * W::lanes * npy_intp(sizeof(T)); b += 64) {
                    _mm_prefetch(in_ahead + b, _MM_HINT_T0);
                }
                for (npy_intp b = 0; b < V * W::lanes * npy_intp(sizeof(O)); b += 64) {
                    _mm_prefetch(out_ahead + b, _MM_HINT_T0);
                }
            }
            for (int v = 0; v < V; v++) {
                const typename W::mask k = v == V - 1 ? tail : static_cast<typename W::mask>(-1);
                const typename W::val x = W::load_in(in + v * W::lanes * npy_intp(sizeof(T)), k);
                const typename W::val y = prefix_step<W, First>(
                    r[v], j, x, t.val(j + 1, v), t.pos(j + 1, v), t.cnt(j + 1, v), lead, m);
                W::store_out(out + v * W::lanes * npy_intp(sizeof(O)), k, y);
            }
        }
    }

    // The suffixes of the w rows from start into the table.
    template <int V>
    CORVANE_AVX512 static void backward(const move_lanes<T> &s, npy_intp w, table<lane_vec, V> t,
                                        npy_intp start, typename lane_vec::mask tail) {
        using W = lane_vec;
        prefix<W> r[V];
        for (int v = 0; v < V; v++) {
            r[v] = no_prefix<W>();
        }
        for (npy_intp j = w - 1; j >= 0; j--) {
            const char *in = s.in + (start + j) * s.in_step;
            for (int v = 0; v < V; v++) {
                const typename W::mask k = v == V - 1 ? tail : static_cast<typename W::mask>(-1);
                const typename W::val x = W::load_in(in + v * W::lanes * npy_intp(sizeof(T)), k);
                suffix_step<W>(r[v], j, w, x, t.val(j, v), t.pos(j, v), t.cnt(j, v));
            }
        }
    }

    // One strip of V vectors, the last of them holding the lanes in `tail`.
    template <int V>
    CORVANE_AVX512 static void strip(const move_lanes<T> &s, const move_params &p, char *scratch,
                                     typename lane_vec::mask tail) {
        const npy_intp w = p.window;
        const table<lane_vec, V> t{scratch};
        t.close(w);
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
    // last axis): lane q of a vector is slice q, read in square tiles (a
    // vector's worth of positions of as many slices) transposed in
    // registers, the outputs transposed back. In float64 two groups of eight
    // slices run at once, their chains independent.
    static constexpr npy_intp rows_at_once = 16;
    static constexpr int row_groups = rows_at_once / lane_vec::lanes;
    static npy_intp rows_table_bytes(npy_intp w) {
        return (w + 1) * row_groups * entry_bytes<lane_vec>;
    }

    // Loads the tile at position `at` of the slices of group v (the first k
    // positions; the rest zero) and transposes it.
    CORVANE_AVX512 static void load_tile(const char *const *in, int v, npy_intp at,
                                         typename lane_vec::mask k, typename lane_vec::val *c) {
        using W = lane_vec;
        for (int q = 0; q < W::lanes; q++) {
            c[q] = W::load_in(in[v * W::lanes + q] + at * npy_intp(sizeof(T)), k);
        }
        W::transpose(c);
    }

    // Rows start .. start + len - 1 of the slices at in (count of them; the
    // others repeat slice 0 and write nothing); positions at `at` of
    // slice q are at in[q] + at * sizeof(T).
    template <bool First>
    CORVANE_AVX512 static void rows_forward(const char *const *in, char *const *out, npy_intp count,
                                            const move_params &p, table<lane_vec, row_groups> t,
                                            npy_intp start, npy_intp len,
                                            const typename lane_vec::mask *lead_lanes) {
        using W = lane_vec;
        constexpr int V = row_groups;
        constexpr npy_intp L = W::lanes;
        const npy_intp m = p.min_count;
        prefix<W> r[V];
        for (int v = 0; v < V; v++) {
            r[v] = no_prefix<W>();
        }
        for (npy_intp j0 = 0; j0 < len; j0 += L) {
            const npy_intp k = len - j0 < L ? len - j0 : L;
            const auto mask = static_cast<typename W::mask>((1u << k) - 1);
            const npy_intp at = start + j0;
            typename W::val c[V][L];
            for (int v = 0; v < V; v++) {
                load_tile(in, v, at, mask, c[v]);
            }
            for (npy_intp d = 0; d < L; d++) {
                const npy_intp j = j0 + d;
                const bool lead = j < m - 1;
                for (int v = 0; v < V; v++) {
                    c[v][d] = d < k ? prefix_step<W, First>(r[v], j, c[v][d], t.val(j + 1, v),
                                                            t.pos(j + 1, v), t.cnt(j + 1, v),
                                                            lead ? lead_lanes[v] : 0, m)
                                    : W::set(0.0);
                }
            }
            for (int v = 0; v < V; v++) {
                W::transpose(c[v]);
                for (int q = 0; q < L; q++) {
                    if (v * L + q < count) {
                        W::store_out(out[v * L + q] + at * npy_intp(sizeof(O)), mask, c[v][q]);
                    }
                }
            }
        }
    }

    // The suffixes of the w rows from start of the slices at in.
    CORVANE_AVX512 static void rows_backward(const char *const *in, table<lane_vec, row_groups> t,
                                             npy_intp start, npy_intp w) {
        using W = lane_vec;
        constexpr int V = row_groups;
        constexpr npy_intp L = W::lanes;
        prefix<W> r[V];
        for (int v = 0; v < V; v++) {
            r[v] = no_prefix<W>();
        }
        for (npy_intp j0 = (w - 1) / L * L; j0 >= 0; j0 -= L) {
            const npy_intp k = w - j0 < L ? w - j0 : L;
            const auto mask = static_cast<typename W::mask>((1u << k) - 1);
            typename W::val c[V][L];
            for (int v = 0; v < V; v++) {
                load_tile(in, v, start + j0, mask, c[v]);
            }
            for (npy_intp d = k - 1; d >= 0; d--) {
                const npy_intp j = j0 + d;
                for (int v = 0; v < V; v++) {
                    suffix_step<W>(r[v], j, w, c[v][d], t.val(j, v), t.pos(j, v), t.cnt(j, v));
                }
            }
        }
    }

    // All n positions of the slices at in (see rows_forward). Chained: the
    // slices are the consecutive pieces of one slice, so that each but the
    // first has a block before it, the last of the piece before.
    CORVANE_AVX512 __attribute__((flatten)) static void rows(const char *const *in,
                                                             char *const *out, npy_intp count,
                                                             npy_intp n, const move_params &p,
                                                             void *scratch, bool chained = false) {
        using W = lane_vec;
        constexpr int V = row_groups;
        const npy_intp w = p.window;
        const table<W, V> t{static_cast<char *>(scratch)};
        t.close(w);
        // The lanes whose first block has outputs before min_count values
        // (integers): all of them, or when chained the first piece's alone.
        typename W::mask lead_lanes[V];
        for (int v = 0; v < V; v++) {
            lead_lanes[v] = chained && v > 0 ? 0 : chained ? 1 : static_cast<typename W::mask>(-1);
        }
        if (chained) {
            const char *before[rows_at_once];
            for (npy_intp q = 0; q < rows_at_once; q++) {
                before[q] = q == 0 ? in[0] : in[q] - w * npy_intp(sizeof(T));
            }
            rows_backward(before, t, 0, w);
            // The first piece has nothing before it.
            for (npy_intp j = 0; j < w; j++) {
                if constexpr (std::is_same_v<typename W::val, __m512>) {
                    *reinterpret_cast<float *>(t.val(j, 0)) = static_cast<float>(Op::worst);
                } else {
                    *reinterpret_cast<double *>(t.val(j, 0)) = Op::worst;
                }
                if constexpr (counted) {
                    *reinterpret_cast<int32_t *>(t.cnt(j, 0)) = 0;
                }
            }
        }
        const typename W::mask none[V] = {};
        for (npy_intp start = 0; start < n; start += w) {
            const npy_intp len = n - start < w ? n - start : w;
            const typename W::mask *lead = start == 0 ? lead_lanes : none;
            if (start == 0 && !chained) {
                rows_forward<true>(in, out, count, p, t, start, len, lead);
            } else {
                rows_forward<false>(in, out, count, p, t, start, len, lead);
            }
            if (start + len < n) {
                rows_backward(in, t, start, w);
            }
        }
    }

    // One long contiguous slice whose positions run side by side in
    // rows_at_once pieces of whole blocks. The pieces cost a block each
    // before them, and leave up to rows_at_once blocks to the scalar walk:
    // the extremes of float64 and integers, which gain least from the
    // pieces, take them only when those are a small part (measured).
    static bool chain_pays(const move_slice<T> &s, npy_intp w) {
        const npy_intp blocks = (Arg || std::is_same_v<T, float> ? 4 : 128) * rows_at_once;
        return s.in_step == npy_intp(sizeof(T)) && s.out_step == npy_intp(sizeof(O)) &&
               w <= Op::max_grouped && s.n / w >= blocks;
    }
    // Returns the first position not written (a multiple of w).
    CORVANE_AVX512 static npy_intp chain(const move_slice<T> &s, const move_params &p,
                                         void *scratch) {
        const npy_intp piece = s.n / (rows_at_once * p.window) * p.window;
        const char *in[rows_at_once];
        char *out[rows_at_once];
        for (npy_intp q = 0; q < rows_at_once; q++) {
            in[q] = s.in + q * piece * npy_intp(sizeof(T));
            out[q] = s.out + q * piece * npy_intp(sizeof(O));
        }
        rows(in, out, rows_at_once, piece, p, scratch, true);
        return rows_at_once * piece;
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
                                        npy_intp vectors, typename lane_vec::mask tail) {
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
        using W = lane_vec;
        char *table = static_cast<char *>(scratch);
        constexpr npy_intp strip_lanes = width * W::lanes;
        constexpr auto all = static_cast<typename W::mask>(-1);
        npy_intp c = 0;
        for (; c + strip_lanes <= s.count; c += strip_lanes) {
            strip<width>(lanes_from(s, c, strip_lanes), p, table, all);
        }
        const npy_intp rest = s.count - c;
        if (rest == 0) {
            return;
        }
        const npy_intp last = rest % W::lanes;
        const auto tail = last == 0 ? all : static_cast<typename W::mask>((1u << last) - 1);
        strip_of<width>(lanes_from(s, c, rest), p, table, (rest + W::lanes - 1) / W::lanes, tail);
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
