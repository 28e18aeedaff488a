// quantile and nanquantile: NumPy's default ("linear") quantiles by selection.
//
// Kernels: quantile_whole<T>, quantile_axis<T>, nanquantile_whole<T>,
// nanquantile_axis<T> for double, float, int64_t, int32_t; integers hold no
// NaN, so nanquantile's integer kernels are quantile's.
//
// For n values and a quantile q the virtual index is v = (n - 1) * q; its
// neighbours, the order statistics of ranks floor(v) and floor(v) + 1 (rank
// n - 1 twice when v >= n - 1), are interpolated with NumPy's formula
//     t < 0.5:  a + (b - a) * t
//     t >= 0.5: b - (b - a) * (1 - t)
// t being v - floor(v) (v + 1 above the last rank, as NumPy has it). Where
// both neighbours are finite the result is NumPy's bit for bit; where one is
// infinite NumPy's formula gives NaN even for an exact rank (inf - inf), so
// there the result is the order statistic, or the infinity the interpolation
// tends to, NaN only between -inf and +inf (as the median has it).
//
// float32 data is interpolated in float32 (t rounded to float32, 1 - t formed
// in double first, as NumPy does for a Python float q); integers give float64,
// with b - a formed exactly.
//
// Each slice is copied into one scratch buffer and one neighbour of each q is
// put in its sorted place by selection, not sorting: one partition serves all
// the ranks on both of its sides, so several q on one slice share the work; a
// rank left alone in a long part is first cut down with pivots from a sample,
// one at an end of its part is a min or max scan. The other neighbour is then
// a scan of the values between two placed ranks.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "reduce/flat_view.hpp"
#include "reduce/median.hpp"
#include "reduce/walk.hpp"

namespace corvane {

// The quantiles asked for, each in [0, 1]; `sequence` when q was a sequence
// (its dimension then leads the output) rather than one number.
struct quantile_q {
    const double *q;
    npy_intp nq;
    bool sequence;
};

using quantile_whole_fn = PyObject *(*)(PyArrayObject *a, const quantile_q &q);
using quantile_axis_fn = PyObject *(*)(PyArrayObject *a, int axis, const quantile_q &q);

namespace detail {

// NumPy's interpolation between the order statistics a <= b at fraction t.
template <class T>
real_of<T> quantile_lerp(T a, T b, double t) {
    if constexpr (is_float<T>) {
        if (!(std::isfinite(a) && std::isfinite(b))) {
            if (a == b) {
                return a;
            }
            if (std::isinf(a) && std::isinf(b)) {
                return nan_of<T>();  // between -inf and +inf
            }
            return std::isinf(a) ? a : b;
        }
        const T diff = b - a;
        if (t >= 0.5) {
            return b - diff * static_cast<T>(1.0 - t);
        }
        return a + diff * static_cast<T>(t);
    } else {
        // b - a formed exactly (it may leave the element type), rounded once.
        using W = std::conditional_t<sizeof(T) == 8, __int128, int64_t>;
        const double diff = static_cast<double>(static_cast<W>(b) - static_cast<W>(a));
        if (t >= 0.5) {
            return static_cast<double>(b) - diff * (1.0 - t);
        }
        return static_cast<double>(a) + diff * t;
    }
}

template <class T>
T min_of(const T *p, npy_intp n) {
    T m = p[0];
    for (npy_intp i = 1; i < n; i++) {
        m = p[i] < m ? p[i] : m;
    }
    return m;
}

template <class T>
T max_of(const T *p, npy_intp n) {
    T m = p[0];
    for (npy_intp i = 1; i < n; i++) {
        m = p[i] > m ? p[i] : m;
    }
    return m;
}

// Ranges at least this long get a sampling round before the selection.
inline constexpr npy_intp sample_from = 8192;

// Moves the value of rank r of a[lo..hi) to a[r], the smaller ones before it
// and the larger after: at either end by a scan (a vectorised min or max, then
// its place), inside by the median's selection.
//
// A long range is first cut down as Floyd and Rivest do: two values u <= v
// are selected from an evenly spread sample so that rank r almost surely lies
// between them (three standard deviations of the sample's rank on each side),
// and one pass splits the range into the values below u, those from u to v
// and those above v; the selection then runs in the part that holds rank r,
// normally a few percent of the range. That is about one and a half passes
// where the selection alone takes three or more. (Should the sample mislead,
// the rank is in a larger part, which costs time but not correctness.)
template <class T>
void place_rank(T *a, npy_intp lo, npy_intp hi, npy_intp r) {
    if (r == lo || r == hi - 1) {
        const T m = r == lo ? min_of(a + lo, hi - lo) : max_of(a + lo, hi - lo);
        npy_intp i = lo;
        while (!(a[i] == m)) {
            i++;
        }
        std::swap(a[i], a[r]);
        return;
    }
    const npy_intp n = hi - lo;
    if (n >= sample_from) {
        const npy_intp s = 8 * static_cast<npy_intp>(std::sqrt(static_cast<double>(n)));
        const npy_intp step = n / s;
        for (npy_intp i = 1; i < s; i++) {
            std::swap(a[lo + i], a[lo + i * step]);
        }
        const double at = static_cast<double>(r - lo) / static_cast<double>(n) * static_cast<double>(s);
        const npy_intp gap = static_cast<npy_intp>(1.5 * std::sqrt(static_cast<double>(s))) + 1;
        const npy_intp centre = static_cast<npy_intp>(at);
        const npy_intp first = centre - gap > 0 ? centre - gap : 0;
        const npy_intp second = centre + gap < s - 1 ? centre + gap : s - 1;
        select_kth_fast(a + lo, s, first);
        const T u = a[lo + first];
        select_kth_fast(a + lo + first + 1, s - first - 1, second - first - 1);
        const T v = a[lo + second];
        const npy_intp w1 = partition_front(a, lo, hi, [u](T x) { return x < u; });
        const npy_intp w2 = partition_front(a, w1, hi, [v](T x) { return !(v < x); });
        if (r < w1) {
            hi = w1;
        } else if (r < w2) {
            if (!(u < v)) {
                return;  // the middle part holds one value, in any order sorted
            }
            lo = w1;
            hi = w2;
        } else {
            lo = w2;
        }
    }
    select_kth_fast(a + lo, hi - lo, r - lo);
}

// Moves the values of ranks[b..e) (ascending, distinct, within [lo, hi)) of
// a[lo..hi) to their sorted places, each with the smaller values before it
// and the larger after. One partition serves every rank: those below the
// pivot are looked for on its left, the others on its right, and a rank left
// alone in its part is placed by place_rank. The smaller part is recursed
// into (depth below log2 of the length), the larger one looped on.
//
// As in select_kth_fast, a round that fails to cut the range to three
// quarters makes the next pivot candidates come from pseudo-random places, so
// no input pattern keeps the partitions lopsided.
template <class T>
void place_ranks(T *a, npy_intp lo, npy_intp hi, const npy_intp *ranks, npy_intp b, npy_intp e,
                 uint64_t &seed) {
    bool scatter = false;
    while (b < e) {
        if (e - b == 1) {
            place_rank(a, lo, hi, ranks[b]);
            return;
        }
        const npy_intp l = lo;
        const npy_intp r = hi - 1;
        if (r - l <= 16) {
            insertion_sort(a, l, r);
            return;
        }
        const T p = choose_pivot(a, l, r, scatter, seed);
        // a[l..w) < p, the pivot at w, a[w+1..hi) >= p.
        const npy_intp w = partition_front(a, l, r, [p](T x) { return x < p; });
        std::swap(a[w], a[r]);
        const npy_intp left_end = std::lower_bound(ranks + b, ranks + e, w) - ranks;
        npy_intp right_lo = w + 1;
        npy_intp right_b = left_end;
        if (right_b < e && ranks[right_b] == w) {
            right_b++;
        }
        if (right_b < e && scatter) {
            // After a lopsided round, which runs of equal values cause, gather
            // the values equal to the pivot next to it, so that such runs
            // cannot stall the search; ranks among them are placed. (An extra
            // pass that a balanced round does not need.)
            right_lo = partition_front(a, w + 1, hi, [p](T x) { return !(p < x); });
            right_b = std::lower_bound(ranks + right_b, ranks + e, right_lo) - ranks;
        }
        scatter = 4 * (w - lo > hi - right_lo ? w - lo : hi - right_lo) > 3 * (hi - lo);
        if (w - lo < hi - right_lo) {
            place_ranks(a, lo, w, ranks, b, left_end, seed);
            lo = right_lo;
            b = right_b;
        } else {
            place_ranks(a, right_lo, hi, ranks, right_b, e, seed);
            hi = w;
            e = left_end;
        }
    }
}

// Scratch for the q's of one call: their order, and per slice the ranks they
// need and each q's neighbours and fraction. One block, from malloc.
template <class T>
struct quantile_plan {
    const double *q = nullptr;
    npy_intp nq = 0;
    npy_intp *order = nullptr;   // q indices by ascending q
    npy_intp *ranks = nullptr;   // the ranks to place: distinct, ascending
    npy_intp *anchor = nullptr;  // per q: index into ranks of the placed neighbour
    int8_t *side = nullptr;      // per q: which neighbour that is (see slice_quantiles)
    double *frac = nullptr;      // per q: t
    void *block = nullptr;

    bool init(const quantile_q &qq) {
        q = qq.q;
        nq = qq.nq;
        const size_t m = static_cast<size_t>(nq);
        block = malloc(m * (3 * sizeof(npy_intp) + sizeof(double) + 1) + 1);
        if (block == nullptr) {
            return false;
        }
        order = static_cast<npy_intp *>(block);
        ranks = order + m;
        anchor = ranks + m;
        frac = reinterpret_cast<double *>(anchor + m);
        side = reinterpret_cast<int8_t *>(frac + m);
        for (npy_intp i = 0; i < nq; i++) {
            order[i] = i;
        }
        const double *qv = q;
        std::sort(order, order + nq, [qv](npy_intp x, npy_intp y) { return qv[x] < qv[y]; });
        return true;
    }
    ~quantile_plan() { free(block); }
};

// The quantiles of one slice into out[0], out[step], ...; buf is scratch of
// the slice's length.
//
// Each q needs the values of ranks j and j + 1 (or one rank, when t is 0 or
// j is the last). Only one of the two is placed: j when it lies in the upper
// half, else j + 1. Once every placed rank is in its sorted place, the values
// between two placed ranks are exactly those of the ranks between them, so
// the other neighbour is the minimum of the values after j (up to the next
// placed rank), or the maximum of those before j + 1.
// Out of line: inlined into the whole-array kernel it made small calls slower.
template <class T, bool SkipNan>
[[gnu::noinline]] void slice_quantiles(T *buf, const char *p, npy_intp len, npy_intp stride,
                     const quantile_plan<T> &plan, real_of<T> *out, npy_intp step) {
    using R = real_of<T>;
    enum : int8_t { ALONE = 0, BELOW = 1, ABOVE = 2 };  // where the other neighbour is
    const npy_intp n = copy_slice(buf, p, len, stride);
    if (n == 0 || (!SkipNan && n < len)) {
        for (npy_intp i = 0; i < plan.nq; i++) {
            out[i * step] = nan_of<R>();
        }
        return;
    }
    // The ranks come ascending with q (v is monotone in q); each is kept once.
    npy_intp m = 0;
    const double last = static_cast<double>(n - 1);
    for (npy_intp s = 0; s < plan.nq; s++) {
        const npy_intp i = plan.order[s];
        const double v = last * plan.q[i];
        npy_intp r;
        if (v >= last) {
            r = n - 1;
            plan.side[i] = ALONE;
            plan.frac[i] = v + 1.0;  // NumPy's previous index is -1 here
        } else {
            const double f = std::floor(v);
            const npy_intp j = static_cast<npy_intp>(f);
            plan.frac[i] = v - f;
            if (plan.frac[i] == 0.0) {
                // b does not matter: a + (b - a) * 0 is a (for finite values).
                r = j;
                plan.side[i] = ALONE;
            } else if (2 * j >= n - 1) {
                r = j;
                plan.side[i] = ABOVE;
            } else {
                r = j + 1;
                plan.side[i] = BELOW;
            }
        }
        if (m == 0 || plan.ranks[m - 1] != r) {
            plan.ranks[m++] = r;
        }
        plan.anchor[i] = m - 1;
    }
    uint64_t seed = pivot_seed;
    place_ranks(buf, 0, n, plan.ranks, 0, m, seed);
    for (npy_intp i = 0; i < plan.nq; i++) {
        const npy_intp k = plan.anchor[i];
        const npy_intp r = plan.ranks[k];
        T a = buf[r];
        T b = buf[r];
        if (plan.side[i] == ABOVE) {
            const npy_intp end = k + 1 < m ? plan.ranks[k + 1] : n;
            b = end == r + 1 ? buf[r + 1] : min_of(buf + r + 1, end - r - 1);
        } else if (plan.side[i] == BELOW) {
            const npy_intp start = k > 0 ? plan.ranks[k - 1] + 1 : 0;
            a = start == r ? buf[r - 1] : max_of(buf + start, r - start);
        }
        out[i * step] = quantile_lerp(a, b, plan.frac[i]);
    }
}

template <class T, bool SkipNan>
PyObject *quantile_whole_kernel(PyArrayObject *a, const quantile_q &q) {
    using R = real_of<T>;
    flat_view v;
    if (!flat_view_init(v, a, NPY_ANYORDER)) {
        return nullptr;
    }
    py_ref out;
    R scalar_out = nan_of<R>();
    R *y = &scalar_out;
    if (q.sequence) {
        npy_intp dim = q.nq;
        out = py_ref::steal(PyArray_Empty(1, &dim, PyArray_DescrFromType(out_typenum<R>), 0));
        if (!out) {
            return nullptr;
        }
        y = reinterpret_cast<R *>(PyArray_DATA(out.array()));
    }
    bool no_memory = false;
    {
        gil_released nogil(worth_releasing(v.len));
        quantile_plan<T> plan;
        if (v.len == 0) {
            fill_nan(y, q.nq);
        } else {
            no_memory = !plan.init(q) || !with_scratch<T>(v.len, [&v, &plan, y](T *buf) {
                slice_quantiles<T, SkipNan>(buf, v.data, v.len, v.stride, plan, y, 1);
            });
        }
    }
    if (no_memory) {
        return PyErr_NoMemory();
    }
    return q.sequence ? out.release() : py_scalar(scalar_out);
}

template <class T, bool SkipNan>
PyObject *quantile_axis_kernel(PyArrayObject *a, int axis, const quantile_q &q) {
    using R = real_of<T>;
    slice_iter it;
    slice_iter_init_axis(it, a, axis);
    // The output: q's dimension (when q is a sequence), then the other axes.
    npy_intp dims[max_dims + 1];
    int nd = 0;
    if (q.sequence) {
        dims[nd++] = q.nq;
    }
    for (int d = 0; d <= it.last_outer; d++) {
        dims[nd++] = it.outer_len[d];
    }
    py_ref out = py_ref::steal(PyArray_Empty(nd, dims, PyArray_DescrFromType(out_typenum<R>), 0));
    if (!out) {
        return nullptr;
    }
    R *y = reinterpret_cast<R *>(PyArray_DATA(out.array()));
    const npy_intp n_out = PyArray_SIZE(out.array());
    const npy_intp n_slices = it.slice_count;
    bool no_memory = false;
    {
        gil_released nogil(worth_releasing(PyArray_SIZE(a) + n_out));
        quantile_plan<T> plan;
        if (it.slice_len == 0) {
            fill_nan(y, n_out);
        } else if (n_out != 0) {  // else nothing asked (an empty q) or no slices
            no_memory = !plan.init(q) ||
                        !slices_with_scratch<T>(it, [&plan, y, n_slices](
                                                        T *buf, const char *p, npy_intp len,
                                                        npy_intp stride, npy_intp s) {
                            slice_quantiles<T, SkipNan>(buf, p, len, stride, plan, y + s,
                                                        n_slices);
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
inline constexpr quantile_whole_fn quantile_whole = detail::quantile_whole_kernel<T, false>;
template <class T>
inline constexpr quantile_axis_fn quantile_axis = detail::quantile_axis_kernel<T, false>;
template <class T>
inline constexpr quantile_whole_fn nanquantile_whole =
    detail::quantile_whole_kernel<T, is_float<T>>;
template <class T>
inline constexpr quantile_axis_fn nanquantile_axis = detail::quantile_axis_kernel<T, is_float<T>>;

}  // namespace corvane
