// The running-median handle: two eight-way heaps (heaps.hpp) kept within one
// entry of each other's size, and a list of NaN entries.
#include "move/running_median/running_median.h"

#include <cstdint>
#include <cstdlib>
#include <limits>

#include "move/running_median/heaps.hpp"

namespace {

using namespace corvane::heaps;

// New values go to the upper heap when the lower one is larger, else to the
// lower heap, which keeps lower_size - upper_size at 0 or 1.
void insert_balanced(mm_state *mm, mm_entry *e) {
    if (mm->lower_size > mm->upper_size) {
        heap_push<false>(mm, e);
    } else {
        heap_push<true>(mm, e);
    }
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
