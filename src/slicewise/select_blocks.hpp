// The exchange loop of the selection, done a block at a time.
//
// The plain loop of select_kth (select.hpp) scans from the left for an element
// that is not less than the pivot (a left stop), from the right for one that
// is not greater (a right stop), exchanges the two and goes on until the scans
// meet. Every element the loop has not yet exchanged still holds its original
// value, and an element it has exchanged to the right is a left stop (and vice
// versa). So the loop is fully described by the original stops: it exchanges
// the m-th left stop L_m with the m-th right stop R_m for as long as
// L_m < R_m. When it stops, i and j are L_m and R_m, except that a scan never
// passes the last exchanged element on its side: i = min(L_m, R_(m-1)),
// j = max(R_m, L_(m-1)); and when L_m = R_m that element is "exchanged" with
// itself and i = L_m + 1, j = R_m - 1.
//
// partition_blocks computes exactly that, collecting the positions of the
// stops a block at a time without a branch per element (with AVX-512 where
// the processor has it) and exchanging them pairwise in order: the same
// exchanges and the same final i and j as the plain loop, without the
// mispredicted branch per element that dominates the plain scans.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>

#include "frame/intrinsics.hpp"

#include "frame/cpu.hpp"
#include "frame/dtypes.hpp"

namespace corvane::detail {

// Elements per block: about a quarter of what is left to scan, within these
// bounds: long blocks mean fewer refills to mispredict, short ones less
// scanned in vain near the end.
inline constexpr int long_block = 256;
inline constexpr int short_block = 32;
// Room for a full vector store past the last collected offset.
inline constexpr int offset_slack = 16;

// Offsets x in [0, count) of the stops among `count` elements, in scan order:
// from the left, positions base + x that are not less than the pivot; from the
// right, positions base - x that are not greater (NaN stops both scans).
template <class T, bool FromLeft>
int collect_plain(const T *v, npy_intp base, int count, T pivot, int32_t *out) {
    int n = 0;
    for (int x = 0; x < count; x++) {
        out[n] = x;
        if constexpr (FromLeft) {
            n += !(v[base + x] < pivot);
        } else {
            n += !(pivot < v[base - x]);
        }
    }
    return n;
}

// collect_plain with 512-bit compares and compressed stores of the offsets. A
// last, partial vector is read with a mask, so nothing outside the count is
// touched.
template <class T, bool FromLeft>
CORVANE_AVX512 int collect_avx512(const T *v, npy_intp base, int count, T pivot, int32_t *out) {
    constexpr int lanes = 64 / sizeof(T);
    constexpr uint32_t all = lanes == 16 ? 0xffffu : 0xffu;
    int n = 0;
    for (int c = 0; c < count; c += lanes) {
        // Lane q stands for scan offset c + q; on the right the vector is
        // reversed from memory order so that this holds as well.
        const int valid = count - c < lanes ? count - c : lanes;
        const uint32_t live = valid == lanes ? all : (1u << valid) - 1u;
        const uint32_t load = FromLeft ? live : (live << (lanes - valid)) & all;
        const T *p = FromLeft ? v + base + c : v + base - c - (lanes - 1);
        uint32_t mask;
        if constexpr (sizeof(T) == 8) {
            const __m512i rev = _mm512_set_epi64(0, 1, 2, 3, 4, 5, 6, 7);
            const __mmask8 lm = static_cast<__mmask8>(load);
            const __mmask8 km = static_cast<__mmask8>(live);
            if constexpr (is_float<T>) {
                __m512d a = _mm512_maskz_loadu_pd(lm, p);
                const __m512d s = _mm512_set1_pd(pivot);
                if constexpr (FromLeft) {
                    mask = _mm512_mask_cmp_pd_mask(km, a, s, _CMP_NLT_UQ);
                } else {
                    a = _mm512_permutexvar_pd(rev, a);
                    mask = _mm512_mask_cmp_pd_mask(km, a, s, _CMP_NGT_UQ);
                }
            } else {
                __m512i a = _mm512_maskz_loadu_epi64(lm, p);
                const __m512i s = _mm512_set1_epi64(pivot);
                if constexpr (FromLeft) {
                    mask = _mm512_mask_cmp_epi64_mask(km, a, s, _MM_CMPINT_NLT);
                } else {
                    a = _mm512_permutexvar_epi64(rev, a);
                    mask = _mm512_mask_cmp_epi64_mask(km, a, s, _MM_CMPINT_LE);
                }
            }
            const __m256i offsets = _mm256_add_epi32(_mm256_set1_epi32(c),
                                                     _mm256_set_epi32(7, 6, 5, 4, 3, 2, 1, 0));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + n),
                                _mm256_maskz_compress_epi32(static_cast<__mmask8>(mask), offsets));
        } else {
            const __m512i rev =
                _mm512_set_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
            const __mmask16 lm = static_cast<__mmask16>(load);
            const __mmask16 km = static_cast<__mmask16>(live);
            if constexpr (is_float<T>) {
                __m512 a = _mm512_maskz_loadu_ps(lm, p);
                const __m512 s = _mm512_set1_ps(pivot);
                if constexpr (FromLeft) {
                    mask = _mm512_mask_cmp_ps_mask(km, a, s, _CMP_NLT_UQ);
                } else {
                    a = _mm512_permutexvar_ps(rev, a);
                    mask = _mm512_mask_cmp_ps_mask(km, a, s, _CMP_NGT_UQ);
                }
            } else {
                __m512i a = _mm512_maskz_loadu_epi32(lm, p);
                const __m512i s = _mm512_set1_epi32(pivot);
                if constexpr (FromLeft) {
                    mask = _mm512_mask_cmp_epi32_mask(km, a, s, _MM_CMPINT_NLT);
                } else {
                    a = _mm512_permutexvar_epi32(rev, a);
                    mask = _mm512_mask_cmp_epi32_mask(km, a, s, _MM_CMPINT_LE);
                }
            }
            const __m512i offsets =
                _mm512_add_epi32(_mm512_set1_epi32(c), _mm512_set_epi32(15, 14, 13, 12, 11, 10, 9,
                                                                        8, 7, 6, 5, 4, 3, 2, 1, 0));
            _mm512_storeu_si512(out + n,
                                _mm512_maskz_compress_epi32(static_cast<__mmask16>(mask), offsets));
        }
        n += __builtin_popcount(mask);
    }
    return n;
}

template <class T, bool FromLeft, bool Simd>
inline int collect(const T *v, npy_intp base, int count, T pivot, int32_t *out) {
    if constexpr (Simd) {
        return collect_avx512<T, FromLeft>(v, base, count, pivot, out);
    } else {
        return collect_plain<T, FromLeft>(v, base, count, pivot, out);
    }
}

// Nothing to fill: v already holds the slice.
struct no_fill {
    template <class T>
    void operator()(T *, npy_intp, npy_intp) const {}
};

// Fills v from `src` a block at a time, as the first round's scans reach the
// blocks, so that the copy of a slice costs no pass of its own. A scan only
// ever reaches elements no exchange has written yet, so a block copied a
// second time gets the same values; except for the three positions the
// median-of-three may already have exchanged, which keep their values.
template <class T>
struct fill_from {
    const char *src;  // (NumPy's data need not be aligned)
    npy_intp at[3];
    T value[3];
    void operator()(T *v, npy_intp from, npy_intp count) const {
        // 64 bytes at a time: a block is at most a few kilobytes, where a
        // string move (what memcpy becomes here) starts slowly.
        typedef char line __attribute__((vector_size(64)));
        const char *s = src + from * static_cast<npy_intp>(sizeof(T));
        char *d = reinterpret_cast<char *>(v + from);
        const npy_intp bytes = count * static_cast<npy_intp>(sizeof(T));
        npy_intp c = 0;
        for (; c + 64 <= bytes; c += 64) {
            const line x = load<line>(s + c);
            memcpy(d + c, &x, 64);
        }
        memcpy(d + c, s + c, static_cast<size_t>(bytes - c));
        for (int q = 0; q < 3; q++) {
            if (at[q] >= from && at[q] < from + count) {
                v[at[q]] = value[q];
            }
        }
    }
};

// The plain loop of select_kth over v[l .. r] with `pivot` (see the top of
// this file): the same exchanges, and the same final i and j.
// `Simd`: collect with AVX-512; only from code compiled for it. `fill(v, from,
// count)` makes v[from .. from + count) valid just before the scans first
// read it (fill_from), and is called for every element of v[l .. r].
template <class T, bool Simd, class P, class F = no_fill>
void partition_blocks(T *v, const T pivot, npy_intp l, npy_intp r, npy_intp &i, npy_intp &j,
                      P moved, F fill = {}) {
    int32_t left[long_block + offset_slack];
    int32_t right[long_block + offset_slack];
    int nl = 0, nr = 0;  // stops collected
    int sl = 0, sr = 0;  // the next of them to exchange
    npy_intp lbase = 0, rbase = 0;
    npy_intp lb = l;  // first position not yet scanned from the left
    npy_intp rb = r;  // last position not yet scanned from the right
    npy_intp last_l = l - 1;  // last exchanged left stop
    npy_intp last_r = r + 1;  // last exchanged right stop
    auto block = [](npy_intp rest) {
        npy_intp b = (rest / 4) & ~npy_intp(15);
        b = b < short_block ? short_block : (b > long_block ? long_block : b);
        return static_cast<int>(rest < b ? rest : b);
    };
    for (;;) {
        // Left stops beyond the last exchanged right stop cannot be reached,
        // so the scan ends there; everything before it is original.
        while (sl == nl && lb < last_r) {
            const int b = block(last_r - lb);
            lbase = lb;
            sl = 0;
            fill(v, lb, b);
            nl = collect<T, true, Simd>(v, lb, b, pivot, left);
            lb += b;
        }
        while (sr == nr && rb > last_l) {
            const int b = block(rb - last_l);
            rbase = rb;
            sr = 0;
            fill(v, rb - b + 1, b);
            nr = collect<T, false, Simd>(v, rb, b, pivot, right);
            rb -= b;
        }
        if (sl == nl || sr == nr) {
            break;
        }
        const int m = nl - sl < nr - sr ? nl - sl : nr - sr;
        if (lb <= rb + 1) {
            // Every collected left stop lies before the part not yet scanned
            // and every right stop after it: none of these pairs can cross.
            for (int t = 0; t < m; t++) {
                const npy_intp a = lbase + left[sl + t];
                const npy_intp b = rbase - right[sr + t];
                std::swap(v[a], v[b]);
                moved.exchange(a, b);
            }
            last_l = lbase + left[sl + m - 1];
            last_r = rbase - right[sr + m - 1];
        } else {
            for (int t = 0; t < m; t++) {
                const npy_intp a = lbase + left[sl + t];
                const npy_intp b = rbase - right[sr + t];
                if (!(a < b)) {
                    // The scans meet: at one element (exchanged with itself),
                    // or they have crossed.
                    if (a == b) {
                        i = a + 1;
                        j = b - 1;
                    } else {
                        i = a < last_r ? a : last_r;
                        j = b > last_l ? b : last_l;
                    }
                    if (lb <= rb) {
                        fill(v, lb, rb - lb + 1);
                    }
                    return;
                }
                std::swap(v[a], v[b]);
                moved.exchange(a, b);
                last_l = a;
                last_r = b;
            }
        }
        sl += m;
        sr += m;
    }
    // One scan has run out of reachable stops: it ends at the last element
    // exchanged on the other side.
    // What neither scan reached.
    if (lb <= rb) {
        fill(v, lb, rb - lb + 1);
    }
    i = sl < nl ? (lbase + left[sl] < last_r ? lbase + left[sl] : last_r) : last_r;
    j = sr < nr ? (rbase - right[sr] > last_l ? rbase - right[sr] : last_l) : last_l;
}

}  // namespace corvane::detail
