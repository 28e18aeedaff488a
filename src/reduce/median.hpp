// median and nanmedian by selection: each slice is copied into one scratch
// buffer (allocated once per call) and the middle element is moved into place
// by a quickselect with a median-of-three pivot; no sorting.
//
// Kernels: median_whole_f64 .. median_whole_i32, median_axis_f64 .. median_axis_i32,
// nanmedian_whole_f64, nanmedian_whole_f32, nanmedian_axis_f64, nanmedian_axis_f32
// (the template instances for double, float, int64_t, int32_t). Integers hold
// no NaN, so nanmedian uses median's integer kernels.
//
// median gives NaN for a slice holding a NaN; nanmedian ignores NaNs and gives
// NaN only when nothing else is left. Empty inputs give NaN. Integer medians
// are float64; float32 ones are formed in float32.
#pragma once

#include <cmath>
#include <cstdlib>
#include <utility>

#include "frame/selection.hpp"
#include "reduce/flat_view.hpp"
#include "reduce/walk.hpp"

namespace corvane {

namespace detail {

// The reference selection (frame/selection.hpp): moves the value of rank k
// (0-based, ascending) of buf[0..n) to buf[k], every value in buf[0..k) being
// <= buf[k]; its exchanges fix which of two equal zeros ends up where, so a
// median of zero takes its sign from it.
template <class T>
void select_kth(T *buf, npy_intp n, npy_intp k) {
    selection::select_kth<T>(buf, n, k, [buf](npy_intp a, npy_intp b) { std::swap(buf[a], buf[b]); });
}

// Moves the elements of a[l..r) for which `keep` holds to the front, keeping
// nothing else in order; returns the end of that front part. No branch on
// the data: every element is exchanged, the write position advances or not.
template <class T, class Keep>
inline npy_intp partition_front(T *a, npy_intp l, npy_intp r, Keep keep) {
    npy_intp w = l;
    for (npy_intp i = l; i < r; i++) {
        const T x = a[i];
        a[i] = a[w];
        a[w] = x;
        w += keep(x);
    }
    return w;
}

// The seed of the pseudo-random pivot places: fixed, so that results are
// reproducible.
inline constexpr uint64_t pivot_seed = 0x9e3779b97f4a7c15u;

// A pseudo-random place in [lo, hi], advancing `seed`.
[[gnu::always_inline]] inline npy_intp somewhere(uint64_t &seed, npy_intp lo, npy_intp hi) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return lo + static_cast<npy_intp>((seed >> 33) % static_cast<uint64_t>(hi - lo + 1));
}

// The pivot of a partition round over a[l..r]: the median of three of a[l],
// a[mid], a[r], left in a[r]. With `scatter` (after a round that failed to
// cut the range to three quarters) the three candidates are first drawn from
// pseudo-random places.
template <class T>
[[gnu::always_inline]] inline T choose_pivot(T *a, npy_intp l, npy_intp r, bool scatter,
                                             uint64_t &seed) {
    if (scatter) {
        std::swap(a[l], a[somewhere(seed, l, r)]);
        std::swap(a[l + (r - l) / 2], a[somewhere(seed, l, r)]);
        std::swap(a[r], a[somewhere(seed, l, r)]);
    }
    const npy_intp mid = l + (r - l) / 2;
    if (a[mid] < a[l]) {
        std::swap(a[mid], a[l]);
    }
    if (a[r] < a[l]) {
        std::swap(a[r], a[l]);
    }
    if (a[mid] < a[r]) {
        std::swap(a[mid], a[r]);
    }
    return a[r];
}

// Sorts a[l..r] in place (a short range).
template <class T>
[[gnu::always_inline]] inline void insertion_sort(T *a, npy_intp l, npy_intp r) {
    for (npy_intp i = l + 1; i <= r; i++) {
        const T x = a[i];
        npy_intp j = i;
        while (j > l && x < a[j - 1]) {
            a[j] = a[j - 1];
            j--;
        }
        a[j] = x;
    }
}

// The same postcondition as select_kth, reached faster: the partitions test
// every element without branching on the result, so mispredicted branches
// do not dominate. Equal values may end up in another order than
// select_kth leaves them, which matters for nothing but the sign of a zero.
//
// Median-of-three pivots from fixed places can be led astray (an organ-pipe
// series, up then down, made a 40,000-element median take 270 ms): after a
// round that fails to cut the range to three quarters, the three candidates
// are drawn from pseudo-random places instead (a fixed-seed generator, so
// results stay reproducible), which no input pattern can defeat for long.
template <class T>
void select_kth_fast(T *a, npy_intp n, npy_intp k) {
    npy_intp l = 0;
    npy_intp r = n - 1;
    bool scatter = false;
    uint64_t seed = pivot_seed;
    // Past the reference selection's bound on the rounds' work, the rest
    // goes to its linear mode (a fixed seed can be played against too).
    npy_intp budget = selection::work_bound * n + selection::work_slack;
    while (r - l > 16) {
        const npy_intp before = r - l;
        budget -= r - l + 1;
        if (budget < 0) {
            auto exchange = [a](npy_intp x, npy_intp y) { std::swap(a[x], a[y]); };
            auto loop = [&](const T pivot, npy_intp lo, npy_intp hi, npy_intp &i, npy_intp &j) {
                selection::hoare_loop<T>(a, pivot, lo, hi, i, j, exchange);
            };
            selection::select_linear<T>(a, l, r, k, exchange, loop);
            return;
        }
        const T p = choose_pivot(a, l, r, scatter, seed);
        // a[l..w) < p, then the pivot at w, then a[w+1..r] >= p.
        const npy_intp w = partition_front(a, l, r, [p](T x) { return x < p; });
        std::swap(a[w], a[r]);
        if (k < w) {
            r = w - 1;
        } else if (k == w) {
            return;
        } else {
            // Gather the values equal to the pivot next to it, so that runs
            // of equal values cannot stall the search.
            const npy_intp e = partition_front(a, w + 1, r + 1, [p](T x) { return !(p < x); });
            if (k < e) {
                return;
            }
            l = e;
        }
        scatter = 4 * (r - l) > 3 * before;
    }
    insertion_sort(a, l, r);  // a short range
}

// Copies the elements of one slice into buf, the NaNs left out; returns
// their number.
template <class T>
npy_intp copy_slice(T *buf, const char *p, npy_intp len, npy_intp stride) {
    npy_intp n = 0;
    if (stride == static_cast<npy_intp>(sizeof(T))) {
        for (npy_intp j = 0; j < len; j++) {
            const T x = load<T>(p + j * static_cast<npy_intp>(sizeof(T)));
            buf[n] = x;
            n += !is_nan(x);
        }
    } else {
        for (npy_intp j = 0; j < len; j++, p += stride) {
            const T x = load<T>(p);
            buf[n] = x;
            n += !is_nan(x);
        }
    }
    return n;
}

// The median of buf[0..n) after a selection of rank k = n / 2 (the middle
// value, or the mean of the two middle values).
template <class T>
real_of<T> middle_of(const T *buf, npy_intp n) {
    using R = real_of<T>;
    const npy_intp k = n / 2;
    if (n % 2 == 1) {
        return static_cast<R>(buf[k]);
    }
    T lower = buf[0];
    for (npy_intp i = 1; i < k; i++) {
        lower = buf[i] > lower ? buf[i] : lower;
    }
    if constexpr (is_float<T>) {
        return (lower + buf[k]) * T(0.5);
    } else {
        // The exact sum, converted once: the same as the element type's sum
        // wherever that does not overflow, and no overflow where it would.
        return static_cast<double>(static_cast<__int128>(lower) + buf[k]) * 0.5;
    }
}

// Whether buf[0..n) holds both a +0.0 and a -0.0.
template <class T>
bool mixed_zeros(const T *buf, npy_intp n) {
    bool pos = false;
    bool neg = false;
    for (npy_intp i = 0; i < n; i++) {
        pos = pos || (buf[i] == T(0) && !std::signbit(buf[i]));
        neg = neg || (buf[i] == T(0) && std::signbit(buf[i]));
    }
    return pos && neg;
}

// The median of one slice, using buf as scratch. `skip_nan`: the NaNs are
// left out (nanmedian); otherwise a NaN makes the result NaN.
template <class T, bool SkipNan>
real_of<T> slice_median(T *buf, const char *p, npy_intp len, npy_intp stride) {
    const npy_intp n = copy_slice(buf, p, len, stride);
    if (n == 0 || (!SkipNan && n < len)) {
        return nan_of<real_of<T>>();
    }
    const npy_intp k = n / 2;
    select_kth_fast(buf, n, k);
    if constexpr (is_float<T>) {
        // Only where zeros of both signs meet in the middle can the faster
        // selection leave another zero there than the reference one: then
        // take the reference selection on a fresh copy.
        if (buf[k] == T(0) && mixed_zeros(buf, n)) {
            copy_slice(buf, p, len, stride);
            select_kth(buf, n, k);
        }
    }
    return middle_of(buf, n);
}

// The selection kernels' plumbing. with_scratch runs `run(buf)` with buf a
// malloc block of `len` elements of T, freed after; false, with nothing run,
// when the block cannot be had (MemoryError is raised once the interpreter
// lock is held again).
template <class T, class Run>
[[gnu::always_inline]] inline bool with_scratch(npy_intp len, Run &&run) {
    T *buf = static_cast<T *>(malloc(static_cast<size_t>(len) * sizeof(T)));
    if (buf == nullptr) {
        return false;
    }
    run(buf);
    free(buf);
    return true;
}

// Every slice of `it` in turn, as f(buf, start, len, stride, s) with s the
// slice's number from 0, sharing one scratch buffer of a slice's length.
template <class T, class F>
[[gnu::always_inline]] inline bool slices_with_scratch(slice_iter &it, F &&f) {
    return with_scratch<T>(it.slice_len, [&it, &f](T *buf) {
        for (npy_intp s = 0; it.more(); s++) {
            f(buf, it.slice_start, it.slice_len, it.slice_stride, s);
            it.next();
        }
    });
}

template <class R>
[[gnu::always_inline]] inline void fill_nan(R *y, npy_intp n) {
    for (npy_intp i = 0; i < n; i++) {
        y[i] = nan_of<R>();
    }
}

template <class T, bool SkipNan>
PyObject *median_whole_kernel(PyArrayObject *a, int) {
    using R = real_of<T>;
    flat_view v;
    if (!flat_view_init(v, a, NPY_ANYORDER)) {
        return nullptr;
    }
    R result = nan_of<R>();
    bool no_memory = false;
    {
        gil_released nogil;
        if (v.len > 0) {
            no_memory = !with_scratch<T>(v.len, [&v, &result](T *buf) {
                result = slice_median<T, SkipNan>(buf, v.data, v.len, v.stride);
            });
        }
    }
    if (no_memory) {
        return PyErr_NoMemory();
    }
    return py_scalar(result);
}

template <class T, bool SkipNan>
PyObject *median_axis_kernel(PyArrayObject *a, int axis, int) {
    using R = real_of<T>;
    slice_iter it;
    slice_iter_init_axis(it, a, axis);
    py_ref out = new_reduced_output<R>(it);
    if (!out) {
        return nullptr;
    }
    R *y = reinterpret_cast<R *>(PyArray_DATA(out.array()));
    bool no_memory = false;
    {
        gil_released nogil;
        if (it.slice_len == 0) {
            fill_nan(y, PyArray_SIZE(out.array()));
        } else {
            no_memory = !slices_with_scratch<T>(
                it, [y](T *buf, const char *p, npy_intp len, npy_intp stride, npy_intp s) {
                    y[s] = slice_median<T, SkipNan>(buf, p, len, stride);
                });
        }
    }
    if (no_memory) {
        return PyErr_NoMemory();
    }
    return out.release();
}

}  // namespace detail

template <class T>
inline constexpr reduce_whole_fn median_whole = detail::median_whole_kernel<T, false>;
template <class T>
inline constexpr reduce_axis_fn median_axis = detail::median_axis_kernel<T, false>;
template <class T>
inline constexpr reduce_whole_fn nanmedian_whole =
    detail::median_whole_kernel<T, is_float<T>>;
template <class T>
inline constexpr reduce_axis_fn nanmedian_axis = detail::median_axis_kernel<T, is_float<T>>;

}  // namespace corvane
