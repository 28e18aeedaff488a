// The running-median handle: two eight-way heaps and a list of NaN entries.
//
// Every entry records its container and its position there, so the oldest
// value is overwritten in place and re-ordered from where it stands, without a
// search. Comparisons are strict: equal values never move an entry, and every
// comparison with NaN is false.
#include "move/running_median/running_median.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

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
template <bool Lower>
struct side {
    static constexpr uint32_t home = Lower ? HOME_LOWER : HOME_UPPER;
    static bool above(double a, double b) {
        if constexpr (Lower) {
            return a > b;
        } else {
            return a < b;
        }
    }
    static mm_entry **heap(const mm_state *mm) { return Lower ? mm->lower_heap : mm->upper_heap; }
    static uint64_t &size(mm_state *mm) { return Lower ? mm->lower_size : mm->upper_size; }
    static uint64_t &leaf(mm_state *mm) {
        return Lower ? mm->lower_leaf_start : mm->upper_leaf_start;
    }
    static uint64_t other_size(const mm_state *mm) {
        return Lower ? mm->upper_size : mm->lower_size;
    }
    static mm_entry *other_root(const mm_state *mm) {
        return Lower ? mm->upper_heap[0] : mm->lower_heap[0];
    }
};

// Of two children a < b (positions), the one nearer the root; b on a tie.
// Selected by a mask, not a branch: random data would mispredict it.
template <bool Lower>
inline void pick(uint64_t a, double va, uint64_t b, double vb, uint64_t &r, double &vr) {
    const bool first = side<Lower>::above(va, vb);
    const uint64_t take_a = uint64_t(0) - static_cast<uint64_t>(first);
    r = (a & take_a) | (b & ~take_a);
    vr = first ? va : vb;
}

// Moves the entry at p down while a child belongs above it. The chosen child
// is the one a scan from the last child to the first keeps when it takes only
// a strictly better value: the best value, at the highest position among
// equals. A full node of eight children is decided by a tournament, which
// picks the same child with a shorter chain of dependent comparisons.
template <bool Lower>
void sink(mm_state *mm, uint64_t p) {
    using S = side<Lower>;
    mm_entry **h = S::heap(mm);
    const uint64_t n = S::size(mm);
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
            if (!S::above(best_value, x)) {
                break;
            }
            best += first;
        } else {
            best = p;
            best_value = x;
            for (uint64_t c = n; c-- > first;) {
                const double v = h[c]->value;
                if (S::above(v, best_value)) {
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
void exchange_roots(mm_state *mm) {
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
template <bool Lower>
void sift(mm_state *mm, uint64_t p) {
    using S = side<Lower>;
    mm_entry **h = S::heap(mm);
    mm_entry *e = h[p];
    const double x = e->value;
    if (p > 0) {
        uint64_t parent = (p - 1) / MM_FANOUT;
        if (S::above(x, h[parent]->value)) {
            do {
                h[p] = h[parent];
                h[p]->pos = p;
                p = parent;
                if (p == 0) {
                    break;
                }
                parent = (p - 1) / MM_FANOUT;
            } while (S::above(x, h[parent]->value));
            h[p] = e;
            e->pos = p;
            // Only a new root can lie beyond the other heap's root.
            if (S::other_size(mm) > 0 && S::above(x, S::other_root(mm)->value)) {
                exchange_roots(mm);
            }
        } else if (p < S::leaf(mm)) {
            sink<Lower>(mm, p);
        }
        return;
    }
    if (S::other_size(mm) > 0 && S::above(x, S::other_root(mm)->value)) {
        exchange_roots(mm);
    } else {
        sink<Lower>(mm, 0);
    }
}

// Appends e at the end of a heap and sifts it into place.
template <bool Lower>
void heap_push(mm_state *mm, mm_entry *e) {
    using S = side<Lower>;
    uint64_t &n = S::size(mm);
    const uint64_t p = n;
    S::heap(mm)[p] = e;
    e->home = S::home;
    e->pos = p;
    n = p + 1;
    S::leaf(mm) = leaf_start(n);
    sift<Lower>(mm, p);
}

// After the root has left: the last entry takes its place and sifts.
template <bool Lower>
void refill_root(mm_state *mm) {
    using S = side<Lower>;
    uint64_t &n = S::size(mm);
    n--;
    S::leaf(mm) = leaf_start(n);
    if (n > 0) {
        mm_entry **h = S::heap(mm);
        mm_entry *last = h[n];
        h[0] = last;
        last->pos = 0;
        sift<Lower>(mm, 0);
    }
}

// Moves the root of one heap to the other, to restore the balance of sizes
// after a removal.
template <bool FromLower>
void move_root_across(mm_state *mm) {
    mm_entry *root = side<FromLower>::heap(mm)[0];
    heap_push<!FromLower>(mm, root);
    refill_root<FromLower>(mm);
}

// New values go to the upper heap when the lower one is larger, else to the
// lower heap, which keeps lower_size - upper_size at 0 or 1.
void insert_balanced(mm_state *mm, mm_entry *e) {
    if (mm->lower_size > mm->upper_size) {
        heap_push<false>(mm, e);
    } else {
        heap_push<true>(mm, e);
    }
}

void nan_push(mm_state *mm, mm_entry *e) {
    mm->nan_list[mm->nan_size] = e;
    e->home = HOME_NAN;
    e->pos = mm->nan_size;
    mm->nan_size++;
}

// Takes the entry at p out of nan_list; the last entry fills the gap.
void nan_remove(mm_state *mm, uint64_t p) {
    const uint64_t last = mm->nan_size - 1;
    if (p != last) {
        mm_entry *moved = mm->nan_list[last];
        mm->nan_list[p] = moved;
        moved->pos = p;
    }
    mm->nan_size = last;
}

// An entry at p of the lower heap has become NaN and has gone to nan_list.
void lower_remove(mm_state *mm, uint64_t p) {
    mm->lower_size--;
    if (mm->lower_size == 0) {
        mm->lower_leaf_start = 0;
        if (mm->upper_size > 0) {
            mm_entry *u = mm->upper_heap[0];
            mm->lower_heap[0] = u;
            u->home = HOME_LOWER;
            u->pos = 0;
            mm->lower_size = 1;
            mm->lower_leaf_start = 0;
            refill_root<false>(mm);
        }
        return;
    }
    mm->lower_leaf_start = leaf_start(mm->lower_size);
    if (p != mm->lower_size) {
        mm_entry *last = mm->lower_heap[mm->lower_size];
        mm->lower_heap[p] = last;
        last->pos = p;
        sift<true>(mm, p);
    }
    if (mm->lower_size < mm->upper_size) {
        move_root_across<false>(mm);
    }
}

// An entry at p of the upper heap has become NaN and has gone to nan_list.
void upper_remove(mm_state *mm, uint64_t p) {
    mm->upper_size--;
    mm->upper_leaf_start = leaf_start(mm->upper_size);
    if (p != mm->upper_size) {
        mm_entry *last = mm->upper_heap[mm->upper_size];
        mm->upper_heap[p] = last;
        last->pos = p;
        sift<false>(mm, p);
    }
    if (mm->upper_size + 1 < mm->lower_size) {
        move_root_across<true>(mm);
    }
}

// The median of the non-NaN values in the window, or NaN below min_count.
double median_read(const mm_state *mm) {
    const uint64_t n = mm->lower_size + mm->upper_size;
    if (n < mm->min_count) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const uint64_t k = n < mm->window ? n : mm->window;
    if (k & 1) {
        return mm->lower_heap[0]->value;
    }
    return (mm->lower_heap[0]->value + mm->upper_heap[0]->value) * 0.5;
}

// The oldest entry is recycled as the newest. The ring is closed first, so
// a window of one entry (oldest == newest) stays a ring of itself.
mm_entry *recycle_oldest(mm_state *mm, double value) {
    mm_entry *e = mm->oldest;
    e->value = value;
    mm->newest->newer = e;
    mm->oldest = e->newer;
    mm->newest = e;
    return e;
}

// window_pointers: the length of the slot block in pointers (window for a
// plain handle, 2 * window for a NaN-aware one).
mm_state *allocate(uint64_t window, uint64_t min_count, uint64_t window_pointers) {
    const uint64_t most = std::numeric_limits<size_t>::max() / 2 / sizeof(mm_entry);
    // min_count 0 would read the median of an empty window.
    if (window == 0 || window > most || min_count == 0 || min_count > window) {
        return nullptr;
    }
    mm_state *mm = static_cast<mm_state *>(malloc(sizeof(mm_state)));
    if (mm == nullptr) {
        return nullptr;
    }
    mm->slot_block = static_cast<mm_entry **>(malloc(window_pointers * sizeof(mm_entry *)));
    if (mm->slot_block == nullptr) {
        free(mm);
        return nullptr;
    }
    mm->entries = static_cast<mm_entry *>(malloc(window * sizeof(mm_entry)));
    if (mm->entries == nullptr) {
        free(mm->slot_block);
        free(mm);
        return nullptr;
    }
    mm->window = window;
    mm->window_is_odd = 0;
    mm->min_count = min_count;
    mm->lower_heap = mm->slot_block;
    mm->upper_heap = mm->slot_block + (window + 1) / 2;
    mm->nan_list = nullptr;
    mm->oldest = nullptr;
    mm->newest = nullptr;
    mm->lower_size = 0;
    mm->upper_size = 0;
    mm->nan_size = 0;
    mm->lower_leaf_start = 0;
    mm->upper_leaf_start = 0;
    return mm;
}

}  // namespace

mm_state *mm_new(uint64_t window, uint64_t min_count) {
    mm_state *mm = allocate(window, min_count, window);
    if (mm != nullptr) {
        mm->window_is_odd = static_cast<uint32_t>(window & 1);
    }
    return mm;
}

mm_state *mm_new_nan(uint64_t window, uint64_t min_count) {
    mm_state *mm = allocate(window, min_count, 2 * window);
    if (mm != nullptr) {
        mm->nan_list = mm->slot_block + window;
    }
    return mm;
}

void mm_reset(mm_state *mm) {
    mm->lower_size = 0;
    mm->upper_size = 0;
    mm->nan_size = 0;
    mm->lower_leaf_start = 0;
    mm->upper_leaf_start = 0;
}

double mm_update_init(mm_state *mm, double value) {
    mm_entry *e = &mm->entries[mm->lower_size + mm->upper_size];
    e->value = value;
    if (mm->lower_size == 0) {
        mm->lower_heap[0] = e;
        e->home = HOME_LOWER;
        e->pos = 0;
        mm->oldest = e;
        mm->lower_size = 1;
        mm->lower_leaf_start = 0;
    } else {
        mm->newest->newer = e;
        insert_balanced(mm, e);
    }
    mm->newest = e;
    return median_read(mm);
}

double mm_update_init_nan(mm_state *mm, double value) {
    const uint64_t index = mm->lower_size + mm->upper_size + mm->nan_size;
    mm_entry *e = &mm->entries[index];
    e->value = value;
    if (index == 0) {
        mm->oldest = e;
    } else {
        mm->newest->newer = e;
    }
    if (is_nan(value)) {
        nan_push(mm, e);
    } else if (mm->lower_size == 0) {
        mm->lower_heap[0] = e;
        e->home = HOME_LOWER;
        e->pos = 0;
        mm->lower_size = 1;
        mm->lower_leaf_start = 0;
    } else {
        insert_balanced(mm, e);
    }
    mm->newest = e;
    return median_read(mm);
}

double mm_update(mm_state *mm, double value) {
    mm_entry *e = recycle_oldest(mm, value);
    if (e->home == HOME_LOWER) {
        sift<true>(mm, e->pos);
    } else {
        sift<false>(mm, e->pos);
    }
    // A full window of a plain handle: its parity is the window's.
    if (mm->window_is_odd) {
        return mm->lower_heap[0]->value;
    }
    return (mm->lower_heap[0]->value + mm->upper_heap[0]->value) * 0.5;
}

double mm_update_nan(mm_state *mm, double value) {
    mm_entry *e = recycle_oldest(mm, value);
    const uint32_t h = e->home;
    const uint64_t p = e->pos;
    if (!is_nan(value)) {
        if (h == HOME_UPPER) {
            sift<false>(mm, p);
        } else if (h == HOME_LOWER) {
            sift<true>(mm, p);
        } else {
            insert_balanced(mm, e);
            nan_remove(mm, p);
        }
    } else if (h == HOME_LOWER) {
        nan_push(mm, e);
        lower_remove(mm, p);
    } else if (h == HOME_UPPER) {
        nan_push(mm, e);
        upper_remove(mm, p);
    }
    return median_read(mm);
}

void mm_free(mm_state *mm) {
    if (mm == nullptr) {
        return;
    }
    free(mm->entries);
    free(mm->slot_block);
    free(mm);
}
