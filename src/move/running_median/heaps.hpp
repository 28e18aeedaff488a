// The heap routines of the running-median handle, over any handle type S
// that has mm_state's heap fields (lower_heap, upper_heap, their sizes and
// leaf starts, nan_list and nan_size): the running median and the running
// quantile share them.
//
// Two eight-way heaps: the lower heap a max-heap, the upper a min-heap, every
// lower value at most every upper value. Every entry records its container
// and its position there, so a value is re-ordered from where it stands,
// without a search. The routines keep the order; which heap grows or shrinks
// is the caller's choice. Comparisons are strict: equal values never move an
// entry, and every comparison with NaN is false.
#pragma once

#include <cmath>
#include <cstdint>

#include "move/running_median/running_median.h"

// Internal to each library source that includes it, as the routines were when
// they lived in one: the compiler inlines them by the same rules.
namespace corvane::heaps {
namespace {

// First childless position of a heap of n entries.
inline uint64_t leaf_start(uint64_t n) {
    if (n <= 1) {
        return 0;
    }
    return static_cast<uint64_t>(std::ceil(static_cast<double>(n - 1) / MM_FANOUT));
}

inline bool is_nan(double x) { return x != x; }

// The two heaps differ only in their order: Lower is a max-heap, the upper
// heap a min-heap. `above(a, b)` says that a belongs nearer the root than b.
// S is the handle type: any record with the fields of mm_state's heaps.
template <bool Lower>
inline bool above(double a, double b) {
    if constexpr (Lower) {
        return a > b;
    } else {
        return a < b;
    }
}

template <bool Lower, class S>
struct side {
    static constexpr uint32_t home = Lower ? HOME_LOWER : HOME_UPPER;
    static bool above(double a, double b) { return heaps::above<Lower>(a, b); }
    static mm_entry **heap(const S *mm) { return Lower ? mm->lower_heap : mm->upper_heap; }
    static uint64_t &size(S *mm) { return Lower ? mm->lower_size : mm->upper_size; }
    static uint64_t &leaf(S *mm) {
        return Lower ? mm->lower_leaf_start : mm->upper_leaf_start;
    }
    static uint64_t other_size(const S *mm) {
        return Lower ? mm->upper_size : mm->lower_size;
    }
    static mm_entry *other_root(const S *mm) {
        return Lower ? mm->upper_heap[0] : mm->lower_heap[0];
    }
};

// Of two children a < b (positions), the one nearer the root; b on a tie.
// Selected by a mask, not a branch: random data would mispredict it.
template <bool Lower>
inline void pick(uint64_t a, double va, uint64_t b, double vb, uint64_t &r, double &vr) {
    const bool first = above<Lower>(va, vb);
    const uint64_t take_a = uint64_t(0) - static_cast<uint64_t>(first);
    r = (a & take_a) | (b & ~take_a);
    vr = first ? va : vb;
}

// Moves the entry at p down while a child belongs above it. The chosen child
// is the one a scan from the last child to the first keeps when it takes only
// a strictly better value: the best value, at the highest position among
// equals. A full node of eight children is decided by a tournament, which
// picks the same child with a shorter chain of dependent comparisons.
template <bool Lower, class S>
void sink(S *mm, uint64_t p) {
    using H = side<Lower, S>;
    mm_entry **h = H::heap(mm);
    const uint64_t n = H::size(mm);
    mm_entry *e = h[p];
    const double x = e->value;
    for (;;) {
        const uint64_t first = MM_FANOUT * p + 1;
        if (first >= n) {
            break;
        }
        uint64_t best;
        double best_value;
        if (first + MM_FANOUT <= n) {
            mm_entry *const *c = h + first;
            uint64_t i0, i1, i2, i3, j0, j1;
            double v0, v1, v2, v3, w0, w1;
            pick<Lower>(0, c[0]->value, 1, c[1]->value, i0, v0);
            pick<Lower>(2, c[2]->value, 3, c[3]->value, i1, v1);
            pick<Lower>(4, c[4]->value, 5, c[5]->value, i2, v2);
            pick<Lower>(6, c[6]->value, 7, c[7]->value, i3, v3);
            pick<Lower>(i0, v0, i1, v1, j0, w0);
            pick<Lower>(i2, v2, i3, v3, j1, w1);
            pick<Lower>(j0, w0, j1, w1, best, best_value);
            if (!H::above(best_value, x)) {
                break;
            }
            best += first;
        } else {
            best = p;
            best_value = x;
            for (uint64_t c = n; c-- > first;) {
                const double v = h[c]->value;
                if (H::above(v, best_value)) {
                    best = c;
                    best_value = v;
                }
            }
            if (best == p) {
                break;
            }
        }
        h[p] = h[best];
        h[p]->pos = p;
        p = best;
    }
    h[p] = e;
    e->pos = p;
}

// The two roots change places, then each sinks in its new heap.
template <class S>
void exchange_roots(S *mm) {
    mm_entry *l = mm->lower_heap[0];
    mm_entry *u = mm->upper_heap[0];
    mm->lower_heap[0] = u;
    u->home = HOME_LOWER;
    mm->upper_heap[0] = l;
    l->home = HOME_UPPER;
    sink<true>(mm, 0);
    sink<false>(mm, 0);
}

// Restores the order after the entry at p arrived there or changed its value:
// it rises while it belongs above its parent (and, at the root, crosses to the
// other heap when it belongs beyond the other root); otherwise it sinks, which
// the cached leaf start skips at childless positions.
template <bool Lower, class S>
void sift(S *mm, uint64_t p) {
    using H = side<Lower, S>;
    mm_entry **h = H::heap(mm);
    mm_entry *e = h[p];
    const double x = e->value;
    if (p > 0) {
        uint64_t parent = (p - 1) / MM_FANOUT;
        if (H::above(x, h[parent]->value)) {
            do {
                h[p] = h[parent];
                h[p]->pos = p;
                p = parent;
                if (p == 0) {
                    break;
                }
                parent = (p - 1) / MM_FANOUT;
            } while (H::above(x, h[parent]->value));
            h[p] = e;
            e->pos = p;
            // Only a new root can lie beyond the other heap's root.
            if (H::other_size(mm) > 0 && H::above(x, H::other_root(mm)->value)) {
                exchange_roots(mm);
            }
        } else if (p < H::leaf(mm)) {
            sink<Lower>(mm, p);
        }
        return;
    }
    if (H::other_size(mm) > 0 && H::above(x, H::other_root(mm)->value)) {
        exchange_roots(mm);
    } else {
        sink<Lower>(mm, 0);
    }
}

// Appends e at the end of a heap and sifts it into place.
template <bool Lower, class S>
void heap_push(S *mm, mm_entry *e) {
    using H = side<Lower, S>;
    uint64_t &n = H::size(mm);
    const uint64_t p = n;
    H::heap(mm)[p] = e;
    e->home = H::home;
    e->pos = p;
    n = p + 1;
    H::leaf(mm) = leaf_start(n);
    sift<Lower>(mm, p);
}

// After the root has left: the last entry takes its place and sifts.
template <bool Lower, class S>
void refill_root(S *mm) {
    using H = side<Lower, S>;
    uint64_t &n = H::size(mm);
    n--;
    H::leaf(mm) = leaf_start(n);
    if (n > 0) {
        mm_entry **h = H::heap(mm);
        mm_entry *last = h[n];
        h[0] = last;
        last->pos = 0;
        sift<Lower>(mm, 0);
    }
}

// Moves the root of one heap to the other, to restore the balance of sizes
// after a removal.
template <bool FromLower, class S>
void move_root_across(S *mm) {
    mm_entry *root = side<FromLower, S>::heap(mm)[0];
    heap_push<!FromLower>(mm, root);
    refill_root<FromLower>(mm);
}

template <class S>
void nan_push(S *mm, mm_entry *e) {
    mm->nan_list[mm->nan_size] = e;
    e->home = HOME_NAN;
    e->pos = mm->nan_size;
    mm->nan_size++;
}

// Takes the entry at p out of nan_list; the last entry fills the gap.
template <class S>
void nan_remove(S *mm, uint64_t p) {
    const uint64_t last = mm->nan_size - 1;
    if (p != last) {
        mm_entry *moved = mm->nan_list[last];
        mm->nan_list[p] = moved;
        moved->pos = p;
    }
    mm->nan_size = last;
}
}  // namespace
}  // namespace corvane::heaps
