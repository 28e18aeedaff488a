// The reference selection shared by partition, argpartition and median: moves
// the value of rank k of v[0..n) to v[k], nothing greater before it and
// nothing smaller after it.
//
// A quickselect: the median of v[l], v[k], v[r] goes to v[k] as the pivot
// (on a tie between v[l] and v[r] the exchange is with v[r]), then Hoare's
// exchange loop with strict comparisons, so NaN (never less, never greater)
// stops both scans and the loop still ends. Its exchanges are part of the
// results: argpartition's positions and the sign of a zero median follow
// them.
//
// Median-of-three can be led astray: an organ-pipe series, or an input built
// against the rule, cuts only an element or two per round, and the selection
// turns quadratic. So the rounds' work is counted; once they have scanned
// more than `work_bound` times the slice (which random data never comes near:
// they scan some 2.3 times it, at most 6 times it in a million trials), the
// remaining rounds take their pivot from the median of medians of five, which
// leaves at least 3/10 of the range on either side of it, and the selection
// finishes in linear time. Inputs that stay within the bound see exactly the
// exchanges of the plain quickselect.
#pragma once

#include "frame/numpy_api.hpp"

namespace corvane::selection {

// Elements the rounds may scan, per element of the slice, before the
// selection stops trusting median-of-three; plus a constant for short slices.
inline constexpr npy_intp work_bound = 16;
inline constexpr npy_intp work_slack = 256;

// Ranges shorter than this take median-of-three even past the bound.
inline constexpr npy_intp groups_from = 25;

// The median of v[l], v[k], v[r] into v[k].
template <class T, class V, class X>
inline void median_of_three(V &v, npy_intp l, npy_intp k, npy_intp r, X &exchange) {
    const T al = v[l];
    const T ak = v[k];
    const T ar = v[r];
    if (al > ak) {
        if (ak < ar) {
            exchange(k, al < ar ? l : r);
        }
    } else if (ak > ar) {
        exchange(k, al > ar ? l : r);
    }
}

// Hoare's exchange loop over v[l..r] around `pivot`, which one of them holds;
// leaves i and j where the scans stopped.
template <class T, class V, class X>
inline void hoare_loop(V &v, const T pivot, npy_intp l, npy_intp r, npy_intp &i, npy_intp &j,
                       X &exchange) {
    i = l;
    j = r;
    do {
        while (v[i] < pivot) {
            i++;
        }
        while (pivot < v[j]) {
            j--;
        }
        if (i <= j) {
            exchange(i, j);
            i++;
            j--;
        }
    } while (i <= j);
}

template <class T, class V, class X, class Loop>
void select_linear(V &v, npy_intp l, npy_intp r, npy_intp k, X &exchange, Loop &loop);

// The median of the medians of the groups of five of v[l..r] into v[k]: each
// group is sorted by insertion, its median moved to the front of the range,
// and the median of those selected (in linear mode) in place.
template <class T, class V, class X, class Loop>
void median_of_medians(V &v, npy_intp l, npy_intp r, npy_intp k, X &exchange, Loop &loop) {
    const npy_intp groups = (r - l + 1) / 5;
    for (npy_intp g = 0; g < groups; g++) {
        const npy_intp b = l + 5 * g;
        for (npy_intp a = b + 1; a < b + 5; a++) {
            for (npy_intp c = a; c > b && v[c] < v[c - 1]; c--) {
                exchange(c, c - 1);
            }
        }
        exchange(l + g, b + 2);
    }
    const npy_intp mid = l + (groups - 1) / 2;
    select_linear<T>(v, l, l + groups - 1, mid, exchange, loop);
    exchange(mid, k);
}

// Selects rank k within v[l..r] with the median of medians as the pivot
// (median-of-three for short ranges). Kept out of line: it recurses, and the
// common path should inline whole into its caller.
template <class T, class V, class X, class Loop>
__attribute__((noinline)) void select_linear(V &v, npy_intp l, npy_intp r, npy_intp k,
                                             X &exchange, Loop &loop) {
    while (l < r) {
        if (r - l + 1 >= groups_from) {
            median_of_medians<T>(v, l, r, k, exchange, loop);
        } else {
            median_of_three<T>(v, l, k, r, exchange);
        }
        const T pivot = v[k];
        npy_intp i;
        npy_intp j;
        loop(pivot, l, r, i, j);
        if (j < k) {
            l = i;
        }
        if (k < i) {
            r = j;
        }
    }
}

// The selection of rank k in v[0..n), n >= 1, 0 <= k < n. `exchange(a, b)`
// swaps two elements (and whatever follows them); `loop(pivot, l, r, i, j)`
// has the effect of hoare_loop (a faster equivalent, say).
template <class T, class V, class X, class Loop>
void select_kth(V v, npy_intp n, npy_intp k, X exchange, Loop loop) {
    npy_intp l = 0;
    npy_intp r = n - 1;
    npy_intp budget = work_bound * n + work_slack;
    while (l < r) {
        if (budget < 0) {
            select_linear<T>(v, l, r, k, exchange, loop);
            return;
        }
        median_of_three<T>(v, l, k, r, exchange);
        const T pivot = v[k];
        npy_intp i;
        npy_intp j;
        loop(pivot, l, r, i, j);
        budget -= r - l + 1;
        if (j < k) {
            l = i;
        }
        if (k < i) {
            r = j;
        }
    }
}

// The same, with the plain exchange loop.
template <class T, class V, class X>
void select_kth(V v, npy_intp n, npy_intp k, X exchange) {
    auto loop = [&](const T pivot, npy_intp l, npy_intp r, npy_intp &i, npy_intp &j) {
        hoare_loop<T>(v, pivot, l, r, i, j, exchange);
    };
    select_kth<T>(v, n, k, exchange, loop);
}

}  // namespace corvane::selection
