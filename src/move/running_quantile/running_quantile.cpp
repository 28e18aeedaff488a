// The running-quantile handle: the running median's two heaps (heaps.hpp),
// balanced so that the lower heap holds the order statistics up to rank
// floor(q * (n - 1)), and a list of NaN entries.
#include "move/running_quantile/running_quantile.h"

#include <cstdint>
#include <cstdlib>
#include <limits>

#include "move/running_median/heaps.hpp"

namespace {

using namespace corvane::heaps;

// q * (n - 1), the fractional rank of the quantile among n values; pandas'
// own expression, so that whole ranks are recognised exactly as it does.
inline double rank_of(const mq_state *mq, uint64_t n) {
    return mq->q * static_cast<double>(n - 1);
}

// The lower heap's size for n non-NaN values: floor(q * (n - 1)) + 1.
inline uint64_t lower_target(const mq_state *mq, uint64_t n) {
    return n == 0 ? 0 : static_cast<uint64_t>(rank_of(mq, n)) + 1;
}

// Roots cross over until the lower heap has its size for the current count.
// One crossing at most, but for a q just below 1, whose rounded ranks can
// step by two between neighbouring counts.
void rebalance(mq_state *mq) {
    const uint64_t target = lower_target(mq, mq->lower_size + mq->upper_size);
    while (mq->lower_size < target) {
        move_root_across<false>(mq);
    }
    while (mq->lower_size > target) {
        move_root_across<true>(mq);
    }
}

// A non-NaN entry joins the window: it goes to the heap that grows, and the
// heaps' sift (with its exchange of roots) puts it in order.
void insert(mq_state *mq, mm_entry *e) {
    const uint64_t n = mq->lower_size + mq->upper_size + 1;
    if (mq->lower_size < lower_target(mq, n)) {
        heap_push<true>(mq, e);
    } else {
        heap_push<false>(mq, e);
    }
    rebalance(mq);
}

// Takes the entry at p out of a heap: the last entry fills the gap.
template <bool Lower>
void heap_remove(mq_state *mq, uint64_t p) {
    using H = side<Lower, mq_state>;
    uint64_t &n = H::size(mq);
    n--;
    H::leaf(mq) = leaf_start(n);
    if (p != n) {
        mm_entry **h = H::heap(mq);
        mm_entry *last = h[n];
        h[p] = last;
        last->pos = p;
        sift<Lower>(mq, p);
    }
}

// The entry at p of heap `home` has become NaN (and has gone to nan_list):
// it leaves its heap, and a root crosses over if the balance asks for it.
void remove(mq_state *mq, uint32_t home, uint64_t p) {
    if (home == HOME_LOWER) {
        heap_remove<true>(mq, p);
    } else {
        heap_remove<false>(mq, p);
    }
    rebalance(mq);
}

double quantile_read(const mq_state *mq) {
    const uint64_t n = mq->lower_size + mq->upper_size;
    if (n < mq->min_count) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const double h = rank_of(mq, n);
    const double k = static_cast<double>(mq->lower_size - 1);
    const double low = mq->lower_heap[0]->value;
    if (h == k) {
        return low;
    }
    const double high = mq->upper_heap[0]->value;
    const double f = h - k;
    const double v = low + (high - low) * f;
    if (v == v) [[likely]] {
        return v;
    }
    // Only infinities get here (the heaps hold no NaN): equal ones are the
    // value, one infinity and a finite value give the infinity, -inf and +inf
    // give NaN, as the limit of the interpolation does.
    return low == high ? low : low * (1.0 - f) + high * f;
}

// The oldest entry is recycled as the newest. The ring is closed first, so a
// window of one entry (oldest == newest) stays a ring of itself.
mm_entry *recycle_oldest(mq_state *mq, double value) {
    mm_entry *e = mq->oldest;
    e->value = value;
    mq->newest->newer = e;
    mq->oldest = e->newer;
    mq->newest = e;
    return e;
}

}  // namespace

mq_state *mq_new(uint64_t window, uint64_t min_count, double q) {
    const uint64_t most = std::numeric_limits<size_t>::max() / 4 / sizeof(mm_entry);
    if (window == 0 || window > most || min_count == 0 || min_count > window || !(q >= 0.0) ||
        !(q <= 1.0)) {
        return nullptr;
    }
    mq_state *mq = static_cast<mq_state *>(malloc(sizeof(mq_state)));
    if (mq == nullptr) {
        return nullptr;
    }
    // Either heap may hold the whole window (q = 1, q = 0), and so may the
    // NaN list.
    mq->slot_block = static_cast<mm_entry **>(malloc(3 * window * sizeof(mm_entry *)));
    mq->entries = static_cast<mm_entry *>(malloc(window * sizeof(mm_entry)));
    if (mq->slot_block == nullptr || mq->entries == nullptr) {
        free(mq->entries);
        free(mq->slot_block);
        free(mq);
        return nullptr;
    }
    mq->window = window;
    mq->min_count = min_count;
    mq->q = q;
    mq->lower_heap = mq->slot_block;
    mq->upper_heap = mq->slot_block + window;
    mq->nan_list = mq->slot_block + 2 * window;
    mq->oldest = nullptr;
    mq->newest = nullptr;
    mq_reset(mq);
    return mq;
}

void mq_reset(mq_state *mq) {
    mq->lower_size = 0;
    mq->upper_size = 0;
    mq->nan_size = 0;
    mq->lower_leaf_start = 0;
    mq->upper_leaf_start = 0;
}

double mq_update_init(mq_state *mq, double value) {
    const uint64_t index = mq->lower_size + mq->upper_size + mq->nan_size;
    mm_entry *e = &mq->entries[index];
    e->value = value;
    if (index == 0) {
        mq->oldest = e;
    } else {
        mq->newest->newer = e;
    }
    if (is_nan(value)) {
        nan_push(mq, e);
    } else {
        insert(mq, e);
    }
    mq->newest = e;
    return quantile_read(mq);
}

double mq_update(mq_state *mq, double value) {
    mm_entry *e = recycle_oldest(mq, value);
    const uint32_t h = e->home;
    const uint64_t p = e->pos;
    if (!is_nan(value)) {
        if (h == HOME_UPPER) {
            sift<false>(mq, p);
        } else if (h == HOME_LOWER) {
            sift<true>(mq, p);
        } else {
            insert(mq, e);
            nan_remove(mq, p);
        }
    } else if (h != HOME_NAN) {
        nan_push(mq, e);
        remove(mq, h, p);
    }
    return quantile_read(mq);
}

void mq_free(mq_state *mq) {
    if (mq == nullptr) {
        return;
    }
    free(mq->entries);
    free(mq->slot_block);
    free(mq);
}
