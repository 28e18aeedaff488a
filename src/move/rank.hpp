// move_rank: the rank of each value among the non-NaN values of the window
// that ends at it, scaled to -1 .. 1, ties sharing their average rank.
// Recounted from the window at every position: O(window) per element, the
// comparisons counted by vector code (a compare gives a mask, the masks are
// summed in counters as wide as the values), with an AVX-512 copy chosen at
// run time. Along a non-innermost axis a block of neighbouring slices is
// counted side by side, a row of lanes at a time.
//
// Kernels: move_rank_axis_f64 .. move_rank_axis_i32 (the instances of
// move_rank_axis<T> for double, float, int64_t, int32_t).
#pragma once

#include <type_traits>

#include "frame/cpu.hpp"
#include "move/kernel_frame.hpp"

namespace corvane {

// Comparisons of the current value with the others of its window. Counters
// as wide as T keep the compare masks in vector registers of the same lane
// count; a window (an int) never holds more than 2^31 values.
template <class T>
struct rank_counts {
    using C = std::conditional_t<sizeof(T) == 8, int64_t, int32_t>;
    C less = 0;   // others below the value
    C equal = 0;  // others equal to it
    C valid = 0;  // non-NaN others
};

template <class T>
inline rank_counts<T> count_others(const move_slice<T> &s, npy_intp start, npy_intp stop, T a) {
    using C = typename rank_counts<T>::C;
    rank_counts<T> c;
    if (s.contiguous_in()) {
        // A branch-free loop over memory that the compiler vectorises.
        const T *x = reinterpret_cast<const T *>(s.in);
        C less = 0, equal = 0, valid = 0;
        for (npy_intp j = start; j < stop; j++) {
            const T b = x[j];
            less += a > b;
            equal += a == b;
            if constexpr (is_float<T>) {
                valid += b == b;
            }
        }
        c = {less, equal, is_float<T> ? valid : static_cast<C>(stop - start)};
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

// The scaled rank 2 * ((2 * less + equal - 1) * 0.5 / k - 0.5) from 64-bit
// counts, in float64; float32 output rounds the quotient to float32 before
// the last steps. `equal` and `valid` include the value itself;
// k = valid - 1 > 0.
template <class O>
inline O scaled_rank(npy_intp less, npy_intp equal, npy_intp valid) {
    double t = static_cast<double>(2 * less + equal);
    t = t + -1.0;
    t = t * 0.5;
    t = t / (static_cast<double>(valid) + -1.0);
    if constexpr (std::is_same_v<O, float>) {
        t = static_cast<double>(static_cast<float>(t));
    }
    t = t + -0.5;
    return static_cast<O>(t + t);
}

// The output at position i of a value a whose window starts at `start`,
// given the counts over the window's other values.
template <class T>
inline move_out<T> rank_value(T a, npy_intp i, npy_intp start, npy_intp m,
                              const rank_counts<T> &c) {
    using O = move_out<T>;
    if (i < m - 1 || is_nan(a)) {
        return nan_of<O>();
    }
    if (start == i) {
        return m > 1 ? nan_of<O>() : O(0);
    }
    const npy_intp equal = static_cast<npy_intp>(c.equal) + 1;
    const npy_intp valid = static_cast<npy_intp>(c.valid) + 1;
    if (m > valid) {
        return nan_of<O>();
    }
    if (valid == 1) {
        return O(0);
    }
    return scaled_rank<O>(c.less, equal, valid);
}

template <class T>
struct move_rank_op {
    using in = T;
    using O = move_out<T>;
    using C = typename rank_counts<T>::C;

    static void slice_any(const move_slice<T> &s, const move_params &p) {
        const npy_intp w = p.window;
        const npy_intp m = p.min_count;
        for (npy_intp i = 0; i < s.n; i++) {
            const T a = s.x(i);
            const npy_intp start = i >= w ? i - w + 1 : 0;
            rank_counts<T> c;
            if (i >= m - 1 && !is_nan(a)) {
                c = count_others(s, start, i, a);
            }
            s.y(i) = rank_value(a, i, start, m, c);
        }
    }

    // Counters of a block of lanes: row i against rows start .. i - 1.
    struct lane_counts {
        T a[lane_block];
        C less[lane_block];
        C equal[lane_block];
        C valid[lane_block];
    };

    static void lanes_any(const move_lanes<T> &s, const move_params &p) {
        const npy_intp w = p.window;
        const npy_intp m = p.min_count;
        const npy_intp lanes = s.count;
        const bool packed = s.in_lane == static_cast<npy_intp>(sizeof(T));
        lane_counts k;
        for (npy_intp i = 0; i < s.n; i++) {
            const npy_intp start = i >= w ? i - w + 1 : 0;
            for (npy_intp l = 0; l < lanes; l++) {
                k.a[l] = s.x(l, i);
                k.less[l] = k.equal[l] = k.valid[l] = 0;
            }
            for (npy_intp j = i >= m - 1 ? start : i; j < i; j++) {
                const char *row = s.in + j * s.in_step;
                if (packed) {
                    for (npy_intp l = 0; l < lanes; l++) {
                        const T b = load<T>(row + l * static_cast<npy_intp>(sizeof(T)));
                        k.less[l] += k.a[l] > b;
                        k.equal[l] += k.a[l] == b;
                        k.valid[l] += b == b;
                    }
                } else {
                    for (npy_intp l = 0; l < lanes; l++) {
                        const T b = load<T>(row + l * s.in_lane);
                        k.less[l] += k.a[l] > b;
                        k.equal[l] += k.a[l] == b;
                        k.valid[l] += b == b;
                    }
                }
            }
            for (npy_intp l = 0; l < lanes; l++) {
                s.y(l, i) = rank_value(k.a[l], i, start, m,
                                       rank_counts<T>{k.less[l], k.equal[l], k.valid[l]});
            }
        }
    }

    CORVANE_AVX512 __attribute__((flatten)) static void slice_avx512(const move_slice<T> &s,
                                                                     const move_params &p) {
        slice_any(s, p);
    }
    static void slice(const move_slice<T> &s, const move_params &p, void *) {
        if (have_avx512()) {
            slice_avx512(s, p);
        } else {
            slice_any(s, p);
        }
    }
    CORVANE_AVX512 __attribute__((flatten)) static void lanes_avx512(const move_lanes<T> &s,
                                                                     const move_params &p) {
        lanes_any(s, p);
    }
    static void lanes(const move_lanes<T> &s, const move_params &p, void *) {
        if (have_avx512()) {
            lanes_avx512(s, p);
        } else {
            lanes_any(s, p);
        }
    }
};

template <class T>
inline constexpr move_kernel move_rank_axis = move_run<move_rank_op<T>>;

}  // namespace corvane
