// move_rank: the rank of each value among the non-NaN values of the window
// that ends at it, scaled to -1 .. 1, ties sharing their average rank.
// Recounted from the window at every position: O(window) per element.
//
// Kernels: move_rank_axis_f64 .. move_rank_axis_i32 (the instances of
// move_rank_axis<T> for double, float, int64_t, int32_t).
#pragma once

#include "move/kernel_frame.hpp"

namespace corvane {

// Comparisons of the current value with the others of its window.
struct rank_counts {
    npy_intp less = 0;   // others below the value
    npy_intp equal = 0;  // others equal to it
    npy_intp valid = 0;  // non-NaN others
};

template <class T>
inline rank_counts count_others(const move_slice<T> &s, npy_intp start, npy_intp stop, T a) {
    rank_counts c;
    if (s.contiguous_in()) {
        // A branch-free loop over memory that the compiler can vectorise.
        const T *x = reinterpret_cast<const T *>(s.in);
        npy_intp less = 0, equal = 0, valid = 0;
        for (npy_intp j = start; j < stop; j++) {
            const T b = x[j];
            less += a > b;
            equal += a == b;
            if constexpr (is_float<T>) {
                valid += b == b;
            }
        }
        c = {less, equal, is_float<T> ? valid : stop - start};
    } else {
        for (npy_intp j = start; j < stop; j++) {
            const T b = s.x(j);
            c.less += a > b;
            c.equal += a == b;
            c.valid += !is_nan(b);
        }
    }
    return c;
}

// The scaled rank 2 * ((less2 + equal - 1) * 0.5 / k - 0.5) in the order of
// operations of the float64 computation; float32 keeps float32 counters and
// rounds after each float64 step. `equal` and `valid` include the value
// itself; k = valid - 1 > 0.
template <class O>
inline O scaled_rank(npy_intp less, npy_intp equal, npy_intp valid) {
    if constexpr (std::is_same_v<O, float>) {
        const float sum = static_cast<float>(2 * less) + static_cast<float>(equal);
        const float half = static_cast<float>((static_cast<double>(sum) + -1.0) * 0.5);
        const double k = static_cast<double>(static_cast<float>(valid)) + -1.0;
        const float q = static_cast<float>(static_cast<double>(half) / k);
        const double t = static_cast<double>(q) + -0.5;
        return static_cast<float>(t + t);
    } else {
        double t = static_cast<double>(2 * less) + static_cast<double>(equal);
        t = t + -1.0;
        t = t * 0.5;
        t = t / (static_cast<double>(valid) + -1.0);
        t = t + -0.5;
        return t + t;
    }
}

template <class T>
struct move_rank_op {
    using in = T;
    using O = move_out<T>;

    static void slice(const move_slice<T> &s, const move_params &p, void *) {
        const npy_intp w = p.window;
        const npy_intp m = p.min_count;
        const O min_needed = static_cast<O>(m);
        for (npy_intp i = 0; i < s.n; i++) {
            O &y = s.y(i);
            const T a = s.x(i);
            if (i < m - 1 || is_nan(a)) {
                y = nan_of<O>();
                continue;
            }
            const npy_intp start = i >= w ? i - w + 1 : 0;
            if (start == i) {
                y = m > 1 ? nan_of<O>() : O(0);
                continue;
            }
            rank_counts c = count_others(s, start, i, a);
            const npy_intp equal = c.equal + 1;
            const npy_intp valid = c.valid + 1;
            if (min_needed > static_cast<O>(valid)) {
                y = nan_of<O>();
            } else if (valid == 1) {
                y = O(0);
            } else {
                y = scaled_rank<O>(c.less, equal, valid);
            }
        }
    }
};

template <class T>
inline constexpr move_kernel move_rank_axis = move_run<move_rank_op<T>>;

}  // namespace corvane
