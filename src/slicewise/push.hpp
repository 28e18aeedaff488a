// push and bfill: filling of NaNs along an axis, push forward from the most
// recent non-NaN value at most n positions back, bfill backward from the next
// non-NaN value at most n positions ahead.
//
// Kernels: push_axis<T> and bfill_axis<T> for double, float, int64_t, int32_t;
// integers hold no NaN, so theirs is a plain copy. Both are one template,
// fill_axis<T, Back>: bfill is push run over each slice from its end, i.e.
// with the positions below counted in the direction of filling.
//
// The rule, per slice, with last = NaN and last_pos = 0 at its start: a NaN at
// position i becomes `last` when i - last_pos <= limit, any other value v sets
// last = v, last_pos = i. Three loops apply it, all with the same result:
// - push_slice, one slice at a time, for any strides;
// - push_run_avx512, a packed slice eight or sixteen elements at a time;
// - push_lanes, for slices whose neighbours lie next to each other in memory
//   (an axis other than the innermost): one row at a time across a block of
//   slices, each with its own last and last_pos, so the loop runs along memory.
// Distances are compared as integers, so the limit is exact at any length.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

#include "frame/intrinsics.hpp"

#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/pair_iter.hpp"
#include "frame/py_ref.hpp"
#include "slicewise/entry.hpp"
#include "slicewise/select_blocks.hpp"

namespace corvane {

namespace detail {

// Copies one slice of `len` elements from x (`in_step` bytes apart) to y
// (`out_step` bytes apart), filling its NaNs on the way. NaNs come at random,
// so the body selects instead of branching where the compiler lets it.
template <class T>
inline void push_slice(const char *x, npy_intp in_step, char *y, npy_intp out_step, npy_intp len,
                       npy_intp limit) {
    T last = nan_of<T>();
    npy_intp last_pos = 0;
    for (npy_intp i = 0; i < len; i++, x += in_step, y += out_step) {
        const T v = *reinterpret_cast<const T *>(x);
        const bool nan = is_nan(v);
        *reinterpret_cast<T *>(y) = nan && i - last_pos <= limit ? last : v;
        last = nan ? last : v;
        last_pos = nan ? last_pos : i;
    }
}

// push_slice over packed x and y, a vector at a time. Forward, lane q takes
// its value from the last lane at or before q that holds one (a running
// maximum of lane numbers), or, when there is none, from the vectors before
// (`last`, `last_pos`). Backward, the vectors come from the end of the slice
// and the same is done in the mirror image: lane q takes its value from the
// first lane at or after q that holds one (a running minimum), and the last
// lane of a vector is the first filled. `pos` is each lane's position in the
// order of filling, counted from the vector's first.
template <class T, bool Back>
CORVANE_AVX512 void push_run_avx512(const T *x, T *y, npy_intp len, npy_intp limit) {
    T last = nan_of<T>();
    npy_intp last_pos = 0;
    // Distances within a vector are below 16, so a larger limit is "always".
    const int near_limit = limit < 16 ? static_cast<int>(limit) : 16;
    if constexpr (sizeof(T) == 8) {
        const __m512i lane = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
        // A lane number no lane has, on the side the running extreme ignores.
        const __m512i none = _mm512_set1_epi64(Back ? 8 : -1);
        for (npy_intp base = 0; base < len; base += 8) {
            const npy_intp count = len - base >= 8 ? 8 : len - base;
            const __mmask8 live = static_cast<__mmask8>((1u << count) - 1u);
            const npy_intp start = Back ? len - base - count : base;
            const __m512i pos =
                Back ? _mm512_sub_epi64(_mm512_set1_epi64(count - 1), lane) : lane;
            const __m512d v = _mm512_maskz_loadu_pd(live, x + start);
            const __mmask8 value = _mm512_cmp_pd_mask(v, v, _CMP_ORD_Q) & live;
            // src[q]: the nearest lane holding a value, at or before q in the
            // order of filling, or `none`.
            __m512i src = _mm512_mask_mov_epi64(none, value, lane);
            __m512i dist;
            if constexpr (Back) {
                src = _mm512_min_epi64(src, _mm512_alignr_epi64(none, src, 1));
                src = _mm512_min_epi64(src, _mm512_alignr_epi64(none, src, 2));
                src = _mm512_min_epi64(src, _mm512_alignr_epi64(none, src, 4));
                dist = _mm512_sub_epi64(src, lane);
            } else {
                src = _mm512_max_epi64(src, _mm512_alignr_epi64(src, none, 7));
                src = _mm512_max_epi64(src, _mm512_alignr_epi64(src, none, 6));
                src = _mm512_max_epi64(src, _mm512_alignr_epi64(src, none, 4));
                dist = _mm512_sub_epi64(lane, src);
            }
            const __mmask8 inside = _mm512_cmp_epi64_mask(src, none, _MM_CMPINT_NE);
            // Within the vector: dist <= limit; from before: pos <= limit - (base - last_pos).
            const npy_intp room = limit - (base - last_pos);
            const int64_t before = room < 8 ? (room < -1 ? -1 : room) : 8;
            const __mmask8 near = _mm512_mask_cmp_epi64_mask(
                inside, dist, _mm512_set1_epi64(near_limit), _MM_CMPINT_LE);
            const __mmask8 far = _mm512_mask_cmp_epi64_mask(
                static_cast<__mmask8>(~inside), pos, _mm512_set1_epi64(before), _MM_CMPINT_LE);
            const __m512d taken = _mm512_mask_permutexvar_pd(_mm512_set1_pd(last), inside, src, v);
            const __m512d out =
                _mm512_mask_mov_pd(v, static_cast<__mmask8>(~value & (near | far)), taken);
            _mm512_mask_storeu_pd(y + start, live, out);
            if (value != 0) {
                // The lane filled last that holds a value.
                const unsigned bits = value;
                const int at = Back ? __builtin_ctz(bits) : 31 - __builtin_clz(bits);
                last = x[start + at];
                last_pos = base + (Back ? count - 1 - at : at);
            }
        }
    } else {
        const __m512i lane =
            _mm512_set_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
        const __m512i none = _mm512_set1_epi32(Back ? 16 : -1);
        for (npy_intp base = 0; base < len; base += 16) {
            const npy_intp count = len - base >= 16 ? 16 : len - base;
            const __mmask16 live = static_cast<__mmask16>((1u << count) - 1u);
            const npy_intp start = Back ? len - base - count : base;
            const __m512i pos =
                Back ? _mm512_sub_epi32(_mm512_set1_epi32(static_cast<int>(count) - 1), lane)
                     : lane;
            const __m512 v = _mm512_maskz_loadu_ps(live, x + start);
            const __mmask16 value = _mm512_cmp_ps_mask(v, v, _CMP_ORD_Q) & live;
            __m512i src = _mm512_mask_mov_epi32(none, value, lane);
            __m512i dist;
            if constexpr (Back) {
                src = _mm512_min_epi32(src, _mm512_alignr_epi32(none, src, 1));
                src = _mm512_min_epi32(src, _mm512_alignr_epi32(none, src, 2));
                src = _mm512_min_epi32(src, _mm512_alignr_epi32(none, src, 4));
                src = _mm512_min_epi32(src, _mm512_alignr_epi32(none, src, 8));
                dist = _mm512_sub_epi32(src, lane);
            } else {
                src = _mm512_max_epi32(src, _mm512_alignr_epi32(src, none, 15));
                src = _mm512_max_epi32(src, _mm512_alignr_epi32(src, none, 14));
                src = _mm512_max_epi32(src, _mm512_alignr_epi32(src, none, 12));
                src = _mm512_max_epi32(src, _mm512_alignr_epi32(src, none, 8));
                dist = _mm512_sub_epi32(lane, src);
            }
            const __mmask16 inside = _mm512_cmp_epi32_mask(src, none, _MM_CMPINT_NE);
            const npy_intp room = limit - (base - last_pos);
            const int before = room < 16 ? (room < -1 ? -1 : static_cast<int>(room)) : 16;
            const __mmask16 near = _mm512_mask_cmp_epi32_mask(
                inside, dist, _mm512_set1_epi32(near_limit), _MM_CMPINT_LE);
            const __mmask16 far = _mm512_mask_cmp_epi32_mask(
                static_cast<__mmask16>(~inside), pos, _mm512_set1_epi32(before), _MM_CMPINT_LE);
            const __m512 taken = _mm512_mask_permutexvar_ps(_mm512_set1_ps(last), inside, src, v);
            const __m512 out =
                _mm512_mask_mov_ps(v, static_cast<__mmask16>(~value & (near | far)), taken);
            _mm512_mask_storeu_ps(y + start, live, out);
            if (value != 0) {
                const unsigned bits = value;
                const int at = Back ? __builtin_ctz(bits) : 31 - __builtin_clz(bits);
                last = x[start + at];
                last_pos = base + (Back ? count - 1 - at : at);
            }
        }
    }
}

// Slices processed side by side by push_lanes, at most.
inline constexpr npy_intp push_lane_block = 1024;

// Positions in push_lanes have the element's width, so that every lane
// operation is as wide as the data and the loop vectorises.
template <class T>
using lane_pos = std::conditional_t<sizeof(T) == 8, int64_t, int32_t>;

// Row i of `m` slices side by side (packed x and y, one element each), with
// each slice's last value and its position in `last` and `last_pos`. `Wide`:
// the target has vectors with integer compares as wide as T (AVX2 and up),
// where the loop runs as selects; a short-circuit `&&` there would become
// branches around masked stores, 3x slower. Scalar code branches instead.
template <class T, bool Wide>
inline void push_lanes_row(const T *x, T *y, T *last, lane_pos<T> *last_pos, npy_intp m,
                           lane_pos<T> i, lane_pos<T> limit) {
    for (npy_intp l = 0; l < m; l++) {
        const T v = x[l];
        const bool nan = is_nan(v);
        const T prev = last[l];
        const lane_pos<T> at = last_pos[l];
        const bool fill = Wide ? nan & (i - at <= limit) : nan && i - at <= limit;
        y[l] = fill ? prev : v;
        last[l] = nan ? prev : v;
        last_pos[l] = nan ? at : i;
    }
}

// Whether the slices' neighbours are packed next to each other in both
// arrays while the slices themselves are not: then push_lanes runs along
// memory. Its positions must fit the lane width.
template <class T>
bool lanes_pay(const pair_iter &it) {
    if (it.outer_last < 0 || it.outer_extent[it.outer_last] < 2) {
        return false;
    }
    const npy_intp size = sizeof(T);
    const npy_intp step = it.in_step < 0 ? -it.in_step : it.in_step;
    return it.in_outer_stride[it.outer_last] == size &&
           it.out_outer_stride[it.outer_last] == size && step > size &&
           it.axis_length <= static_cast<npy_intp>(std::numeric_limits<lane_pos<T>>::max());
}

// Every slice, a block of neighbouring slices at a time (see lanes_pay);
// backward, the rows are taken from the last.
template <class T, bool Back, bool Wide>
void push_lanes(pair_iter &it, npy_intp limit) {
    using P = lane_pos<T>;
    const int last_dim = it.outer_last;
    const npy_intp lanes = it.outer_extent[last_dim];
    const npy_intp len = it.axis_length;
    const P lane_limit = limit < static_cast<npy_intp>(std::numeric_limits<P>::max())
                             ? static_cast<P>(limit)
                             : std::numeric_limits<P>::max();
    // The walk goes on over the other outer dimensions; each step covers a
    // row of lanes.
    it.outer_last = last_dim - 1;
    it.slice_count /= lanes;
    T last[push_lane_block];
    P last_pos[push_lane_block];
    for (; it.more(); it.next()) {
        for (npy_intp c = 0; c < lanes; c += push_lane_block) {
            const npy_intp m = lanes - c < push_lane_block ? lanes - c : push_lane_block;
            for (npy_intp l = 0; l < m; l++) {
                last[l] = nan_of<T>();
                last_pos[l] = 0;
            }
            const char *x = it.in_ptr + c * static_cast<npy_intp>(sizeof(T));
            char *y = it.out_ptr + c * static_cast<npy_intp>(sizeof(T));
            npy_intp in_step = it.in_step;
            npy_intp out_step = it.out_step;
            if constexpr (Back) {
                x += (len - 1) * in_step;
                y += (len - 1) * out_step;
                in_step = -in_step;
                out_step = -out_step;
            }
            for (npy_intp i = 0; i < len; i++, x += in_step, y += out_step) {
                push_lanes_row<T, Wide>(reinterpret_cast<const T *>(x), reinterpret_cast<T *>(y), last,
                                  last_pos, m, static_cast<P>(i), lane_limit);
            }
        }
    }
}

// The slice loops of the float kernels, compiled for each vector level
// (chosen at run time; everything they call inlined into them), level L:
// with AVX-512, packed slices take push_run_avx512.
template <class T, isa L, bool Back>
void push_slices(pair_iter &it, npy_intp limit) {
    const npy_intp len = it.axis_length;
    if (lanes_pay<T>(it)) {
        push_lanes<T, Back, L != isa::base>(it, limit);
        return;
    }
    const bool packed = it.in_step == static_cast<npy_intp>(sizeof(T)) &&
                        it.out_step == static_cast<npy_intp>(sizeof(T));
    if constexpr (Back) {
        // The slices from the last as well, so that memory is walked in one
        // direction (rows of a C-ordered array read backward one after the
        // other, forward, cost a quarter more than one backward sweep).
        for (int k = 0; k <= it.outer_last && it.slice_count > 0; k++) {
            it.in_ptr += (it.outer_extent[k] - 1) * it.in_outer_stride[k];
            it.out_ptr += (it.outer_extent[k] - 1) * it.out_outer_stride[k];
            it.in_outer_stride[k] = -it.in_outer_stride[k];
            it.out_outer_stride[k] = -it.out_outer_stride[k];
        }
    }
    for (; it.more(); it.next()) {
        if constexpr (L == isa::avx512) {
            if (packed) {
                push_run_avx512<T, Back>(reinterpret_cast<const T *>(it.in_ptr),
                                         reinterpret_cast<T *>(it.out_ptr), len, limit);
                continue;
            }
        }
        if constexpr (Back) {
            push_slice<T>(it.in_ptr + (len - 1) * it.in_step, -it.in_step,
                          it.out_ptr + (len - 1) * it.out_step, -it.out_step, len, limit);
        } else {
            push_slice<T>(it.in_ptr, it.in_step, it.out_ptr, it.out_step, len, limit);
        }
    }
}

}  // namespace detail

// A C-ordered copy of `a` (a plain ndarray) with the NaNs of every slice along
// `axis` filled forward (backward when `Back`); `n` < 0 means no limit.
template <class T, bool Back>
PyObject *fill_axis(PyArrayObject *a, int axis, int n) {
    py_ref y = py_ref::steal(PyArray_Empty(PyArray_NDIM(a), PyArray_SHAPE(a),
                                           PyArray_DescrFromType(dtype<T>::typenum), 0));
    if (!y) {
        return nullptr;
    }
    if constexpr (!is_float<T>) {
        // Integers hold no NaN: a copy is all there is to it.
        if (PyArray_CopyInto(y.array(), a) < 0) {
            return nullptr;
        }
    } else {
        pair_iter it;
        pair_iter_init(it, a, y.array(), axis);
        const npy_intp limit = n < 0 ? NPY_MAX_INTP : n;
        if (it.axis_length != 0) {
            gil_released nogil(worth_releasing(PyArray_SIZE(a)));
            isa_dispatch([&](auto tag) {
                detail::push_slices<T, decltype(tag)::level, Back>(it, limit);
            });
        }
    }
    return y.release();
}

template <class T>
inline constexpr slicewise_kernel push_axis = fill_axis<T, false>;
template <class T>
inline constexpr slicewise_kernel bfill_axis = fill_axis<T, true>;

}  // namespace corvane
