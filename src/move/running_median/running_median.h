/* Running median of a sliding window of doubles.
 *
 * A handle keeps the last `window` values of a stream and gives the median
 * after every new value, at a cost that grows with log8(window). Two flavours
 * share the records below:
 *
 *   plain      mm_new,     mm_update_init,     mm_update      values never NaN
 *   NaN-aware  mm_new_nan, mm_update_init_nan, mm_update_nan  NaN values are
 *              set aside; the result is the median of the non-NaN values, or
 *              NaN when fewer than `min_count` of them are in the window.
 *
 * Calling order for each sequence: the fill function for the first
 * min(window, length) values, then the steady-state function for every
 * further value, then mm_reset before the next sequence. A handle is used by
 * one thread at a time; nothing here touches the Python interpreter.
 *
 * mm_new and mm_new_nan take window >= 1 and 1 <= min_count <= window; they
 * return null for any other arguments, and when the allocation fails. They
 * are the only functions that allocate.
 *
 * Plain C interface with C linkage, exported from the `move` module's shared
 * library under these names so that any native caller can link against it.
 */
#ifndef CORVANE_RUNNING_MEDIAN_H
#define CORVANE_RUNNING_MEDIAN_H

#include <stdint.h>

#if defined(__GNUC__)
#define MM_EXPORT __attribute__((visibility("default")))
#else
#define MM_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Which container holds an entry. */
enum { HOME_LOWER = 0, HOME_UPPER = 1, HOME_NAN = 2 };

/* Eight children per heap node keep the heaps shallow. */
#define MM_FANOUT 8

/* One value of the window. */
typedef struct mm_entry {
    uint32_t home;          /* HOME_LOWER, HOME_UPPER or HOME_NAN */
    double value;
    uint64_t pos;           /* position in its container's pointer array */
    struct mm_entry *newer; /* entry holding the next newer value */
} mm_entry;

/* The handle. The lower heap keeps the smaller half with its largest value
 * at the root, the upper heap the larger half with its smallest value at the
 * root; lower_size - upper_size is 0 or 1. */
typedef struct mm_state {
    uint64_t window;
    uint32_t window_is_odd; /* plain handles: the parity of a full window */
    uint64_t min_count;
    uint64_t lower_size;
    uint64_t upper_size;
    uint64_t nan_size;
    mm_entry **lower_heap; /* capacity ceil(window / 2) */
    mm_entry **upper_heap; /* capacity floor(window / 2) */
    mm_entry **nan_list;   /* capacity window; NaN-aware handles only */
    mm_entry **slot_block; /* the one allocation behind the three arrays */
    mm_entry *entries;     /* pool of `window` entries */
    mm_entry *oldest;
    mm_entry *newest;
    uint64_t lower_leaf_start; /* first position without children */
    uint64_t upper_leaf_start;
} mm_state;

MM_EXPORT mm_state *mm_new(uint64_t window, uint64_t min_count);
MM_EXPORT mm_state *mm_new_nan(uint64_t window, uint64_t min_count);
MM_EXPORT void mm_reset(mm_state *mm);
MM_EXPORT double mm_update_init(mm_state *mm, double value);
MM_EXPORT double mm_update_init_nan(mm_state *mm, double value);
MM_EXPORT double mm_update(mm_state *mm, double value);
MM_EXPORT double mm_update_nan(mm_state *mm, double value);
MM_EXPORT void mm_free(mm_state *mm);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_RUNNING_MEDIAN_H */
