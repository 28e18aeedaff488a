// move_min, move_max, move_argmin, move_argmax: the extreme of each window
// and its position, in amortised constant time per element.
//
// Kernels: move_min_axis_f64 .. move_min_axis_i32, move_max_axis_f64 ..
// move_max_axis_i32, move_argmin_axis_f64 .. move_argmin_axis_i32,
// move_argmax_axis_f64 .. move_argmax_axis_i32 (the instances of
// move_min_axis<T> etc. for double, float, int64_t, int32_t).
//
// Each slice is cut into blocks of `window` positions. A window ending at i
// in block b is a suffix of block b - 1 followed by a prefix of block b, so
// its extreme is the better of two precomputed ones: the running extreme of
// block b up to i, and the suffix extreme of block b - 1 kept in a scratch
// block of window + 1 entries (malloc, once per call). A few comparisons per
// element, none of them a data-dependent branch, whatever the window length.
//
// Values are compared as float64 (integers converted). Among equal values the
// rightmost wins, so positions are the rightmost ones (and of two zeros the
// later sign is the one returned). NaNs are never candidates: they are only
// left out of the count, and never reported as the position of an extreme.
#pragma once

#include <limits>

#include "move/kernel_frame.hpp"

namespace corvane {

struct extreme_entry {
    double value;   // the input value, converted to float64
    npy_intp pos;   // its position in the slice (64-bit); -1: no candidate
};

template <class T, bool Max, bool Arg>
struct move_extreme_op {
    using in = T;
    using O = move_out<T>;

    static constexpr const char *name = Max ? (Arg ? "move_argmax" : "move_max")
                                            : (Arg ? "move_argmin" : "move_min");

    // Loses to, or ties with, every value; the value of "no candidate".
    static constexpr double worst =
        Max ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();

    // Candidates with their positions for the position variants; the values
    // alone otherwise.
    using entry = std::conditional_t<Arg, extreme_entry, double>;
    static constexpr entry empty() {
        if constexpr (Arg) {
            return {worst, -1};
        } else {
            return worst;
        }
    }

    static npy_intp scratch_bytes(const move_params &p) {
        return (p.window + 1) * static_cast<npy_intp>(sizeof(entry));
    }

    // v is at least as extreme as w (false when either is NaN).
    static bool at_least(double v, double w) {
        if constexpr (Max) {
            return v >= w;
        } else {
            return v <= w;
        }
    }
    // v is strictly more extreme than w (false when either is NaN).
    static bool beyond(double v, double w) {
        if constexpr (Max) {
            return v > w;
        } else {
            return v < w;
        }
    }
    // The better of best and v, v on a tie; v is not NaN. The forms
    // `a < b ? a : b` and `a > b ? a : b` are single minsd/maxsd
    // instructions, which keeps the loop-carried chain short.
    static double better_later(double best, double v) {
        if constexpr (Max) {
            return best > v ? best : v;
        } else {
            return best < v ? best : v;
        }
    }
    // The better of v and best, best on a tie or when v is NaN.
    static double better_earlier(double v, double best) {
        if constexpr (Max) {
            return v > best ? v : best;
        } else {
            return v < best ? v : best;
        }
    }

    static void slice(const move_slice<T> &s, const move_params &p, void *scratch) {
        const npy_intp w = p.window;
        const npy_intp m = p.min_count;
        const npy_intp n = s.n;
        // suffix[k]: the extreme of the previous block from its k-th value
        // on. Before the first block there is nothing, and suffix[w] stays
        // empty for good (the window that is exactly one block).
        entry *suffix = static_cast<entry *>(scratch);
        for (npy_intp k = 0; k <= w; k++) {
            suffix[k] = empty();
        }
        npy_intp count = 0;  // non-NaN values in the window (float inputs)
        for (npy_intp start = 0; start < n; start += w) {
            const npy_intp stop = start + w < n ? start + w : n;
            double best = worst;  // extreme of x[start .. i]
            npy_intp best_pos = -1;
            for (npy_intp i = start; i < stop; i++) {
                const T x = s.x(i);
                const double v = static_cast<double>(x);
                const bool nan = is_nan(x);
                if constexpr (Arg) {
                    // NaN compares false: it never becomes the candidate.
                    best_pos = select(at_least(v, best), i, best_pos);
                }
                best = better_later(best, select(nan, worst, v));
                if constexpr (is_float<T>) {
                    count += !nan;
                    if (i >= w) {
                        count -= !is_nan(s.x(i - w));
                    }
                }
                O &y = s.y(i);
                if (i < m - 1 || (is_float<T> && count < m)) {
                    y = nan_of<O>();
                    continue;
                }
                // The window is x[i - w + 1 .. start - 1] (a suffix of the
                // previous block) followed by x[start .. i]; the later part
                // wins ties.
                const entry left = suffix[i + 1 - start];
                if constexpr (Arg) {
                    const bool right_wins =
                        (best_pos >= 0) & ((left.pos < 0) | at_least(best, left.value));
                    y = static_cast<O>(i - select(right_wins, best_pos, left.pos));
                } else {
                    // An empty part holds `worst`, which only ties with an
                    // infinity of the same value.
                    y = static_cast<O>(better_later(left, best));
                }
            }
            // The suffix extremes of this block, the later of equal values
            // kept, for the windows of the next block.
            double run = worst;
            npy_intp run_pos = -1;
            for (npy_intp i = stop - 1; i >= start; i--) {
                const T x = s.x(i);
                const double v = static_cast<double>(x);
                if constexpr (Arg) {
                    run_pos = select(beyond(v, run) | ((run_pos < 0) & !is_nan(x)), i, run_pos);
                    run = better_earlier(v, run);
                    suffix[i - start] = {run, run_pos};
                } else {
                    run = better_earlier(v, run);
                    suffix[i - start] = run;
                }
            }
        }
    }
};

template <class T>
inline constexpr move_kernel move_min_axis = move_run<move_extreme_op<T, false, false>>;
template <class T>
inline constexpr move_kernel move_max_axis = move_run<move_extreme_op<T, true, false>>;
template <class T>
inline constexpr move_kernel move_argmin_axis = move_run<move_extreme_op<T, false, true>>;
template <class T>
inline constexpr move_kernel move_argmax_axis = move_run<move_extreme_op<T, true, true>>;

}  // namespace corvane
