// move_min, move_max, move_argmin, move_argmax: a monotone queue of
// candidates in a ring of `window` entries, amortised constant time per step.
//
// Kernels: move_min_axis_f64 .. move_min_axis_i32, move_max_axis_f64 ..
// move_max_axis_i32, move_argmin_axis_f64 .. move_argmin_axis_i32,
// move_argmax_axis_f64 .. move_argmax_axis_i32 (the instances of
// move_min_axis<T> etc. for double, float, int64_t, int32_t).
//
// The queue holds, from front to back, the candidates that can still become
// the window's extreme: values strictly increasing (min) or decreasing (max),
// positions increasing. Among equal values the newest survives, so positions
// are the rightmost ones. NaNs never enter the queue: they are only left out
// of the count, and so are never reported as the position of an extreme.
#pragma once

#include "move/kernel_frame.hpp"

namespace corvane {

struct ring_entry {
    double value;      // the input value, converted to float64
    npy_intp expiry;   // the position at which it leaves the window
};

template <class T, bool Max, bool Arg>
struct move_extreme_op {
    using in = T;
    using O = move_out<T>;

    static constexpr const char *name = Max ? (Arg ? "move_argmax" : "move_max")
                                              : (Arg ? "move_argmin" : "move_min");

    static npy_intp scratch_bytes(const move_params &p) {
        return p.window * static_cast<npy_intp>(sizeof(ring_entry));
    }

    // v is at least as extreme as w: it displaces w from the queue.
    static bool displaces(double v, double w) {
        if constexpr (Max) {
            return v >= w;
        } else {
            return v <= w;
        }
    }

    static void slice(const move_slice<T> &s, const move_params &p, void *scratch) {
        ring_entry *ring = static_cast<ring_entry *>(scratch);
        const npy_intp w = p.window;
        const npy_intp m = p.min_count;
        npy_intp front = 0;     // ring index of the current extreme
        npy_intp back = w - 1;  // ring index of the newest candidate
        npy_intp size = 0;      // live candidates
        npy_intp count = 0;     // non-NaN values in the window (float inputs)
        for (npy_intp i = 0; i < s.n; i++) {
            if (size != 0 && ring[front].expiry == i) {
                front = front == w - 1 ? 0 : front + 1;
                size--;
            }
            const T x = s.x(i);
            if constexpr (is_float<T>) {
                if (i >= w) {
                    count -= !is_nan(s.x(i - w));
                }
            }
            if (!is_nan(x)) {
                const double v = static_cast<double>(x);
                if constexpr (is_float<T>) {
                    count++;
                }
                if (size == 0 || displaces(v, ring[front].value)) {
                    // The newcomer is the extreme: the queue collapses to it.
                    back = front;
                    size = 1;
                } else {
                    // Drop the candidates it displaces; the front stays.
                    while (displaces(v, ring[back].value)) {
                        back = back == 0 ? w - 1 : back - 1;
                        size--;
                    }
                    back = back == w - 1 ? 0 : back + 1;
                    size++;
                }
                ring[back] = {v, i + w};
            }
            O &y = s.y(i);
            if (i < m - 1 || (is_float<T> && count < m)) {
                y = nan_of<O>();
            } else if constexpr (Arg) {
                y = static_cast<O>(i + w - ring[front].expiry);
            } else {
                y = static_cast<O>(ring[front].value);
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
