/* Running quantile of a sliding window of doubles.
 *
 * A handle keeps the last `window` values of a stream and gives, after every
 * new value, the q-quantile of the non-NaN values among them: with n such
 * values and h = q * (n - 1), the order statistic of rank floor(h) (counted
 * from 0) when h is whole, else the linear interpolation
 * v[k] + (v[k + 1] - v[k]) * (h - k), k = floor(h), between the two
 * neighbouring order statistics (pandas' formula; where infinities make it
 * NaN, the interpolation's limit: the infinity, or NaN between -inf and
 * +inf). Fewer than `min_count` non-NaN values give NaN. Each value costs
 * O(log8(window)).
 *
 * It is the running median's pair of eight-way heaps (running_median.h) with
 * another balance: the lower heap holds the floor(q * (n - 1)) + 1 smallest
 * values, the upper heap the others, so the order statistics around h are
 * the two roots. NaN values are set aside in a list of their own.
 *
 * Calling order for each sequence: mq_update_init for the first
 * min(window, length) values, then mq_update for every further value (the
 * value replaces the oldest of the window), then mq_reset before the next
 * sequence. A handle is used by one thread at a time; nothing here touches the
 * Python interpreter.
 *
 * mq_new takes window >= 1, 1 <= min_count <= window and 0 <= q <= 1; it
 * returns null for any other arguments, and when the allocation fails. It is
 * the only function that allocates.
 *
 * Plain C interface with C linkage, exported from the `move` module's shared
 * library under these names so that any native caller can link against it.
 */
#ifndef CORVANE_RUNNING_QUANTILE_H
#define CORVANE_RUNNING_QUANTILE_H

#include <stdint.h>

#include "move/running_median/running_median.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The handle. Entries (mm_entry) and heaps are those of the running median;
 * each pointer array can hold `window` entries. */
typedef struct mq_state {
    uint64_t window;
    uint64_t min_count;
    double q;
    uint64_t lower_size; /* floor(q * (n - 1)) + 1 for n > 0 non-NaN values */
    uint64_t upper_size;
    uint64_t nan_size;
    mm_entry **lower_heap;
    mm_entry **upper_heap;
    mm_entry **nan_list;
    mm_entry **slot_block; /* the one allocation behind the three arrays */
    mm_entry *entries;     /* pool of `window` entries */
    mm_entry *oldest;
    mm_entry *newest;
    uint64_t lower_leaf_start; /* first position without children */
    uint64_t upper_leaf_start;
} mq_state;

MM_EXPORT mq_state *mq_new(uint64_t window, uint64_t min_count, double q);
MM_EXPORT void mq_reset(mq_state *mq);
MM_EXPORT double mq_update_init(mq_state *mq, double value);
MM_EXPORT double mq_update(mq_state *mq, double value);
MM_EXPORT void mq_free(mq_state *mq);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_RUNNING_QUANTILE_H */
