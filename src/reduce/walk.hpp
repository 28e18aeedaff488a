// The shared walks of the accumulating reductions.
//
// An accumulating reduction is described by an operation type:
//
//   struct op {
//       using in = T;      // element type read
//       using out = O;     // element type of the along-axis output
//       using acc = A;     // running state of one slice
//       static acc init();
//       static void add(acc &, in x);                 // next element, in order
//       static out finish(const acc &, npy_intp n);   // n: elements walked
//       static out empty();                           // value for empty slices
//   };
//
// `add` sees the elements of each slice strictly in index order, so float
// accumulation is reproducible bit for bit. The walks below only change which
// slices are in flight at once, never the order within a slice.
#pragma once

#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/py_ref.hpp"
#include "frame/scalars.hpp"
#include "frame/slice_iter.hpp"

namespace corvane {

// Feeds one slice into an accumulator.
template <class Op>
inline void add_slice(typename Op::acc &s, const char *p, npy_intp len, npy_intp stride) {
    using T = typename Op::in;
    if (stride == static_cast<npy_intp>(sizeof(T))) {
        // Constant stride: lets the compiler vectorise where order is free.
        for (npy_intp j = 0; j < len; j++) {
            Op::add(s, load<T>(p + j * sizeof(T)));
        }
    } else {
        for (npy_intp j = 0; j < len; j++, p += stride) {
            Op::add(s, load<T>(p));
        }
    }
}

// Reduces every element of `a` into one accumulator, in the walk order of
// slice_iter_init_all. Returns the Python scalar of the result.
template <class Op>
PyObject *reduce_whole(PyArrayObject *a) {
    slice_iter it;
    slice_iter_init_all(it, a);
    typename Op::acc s = Op::init();
    {
        gil_released nogil;
        while (it.more()) {
            add_slice<Op>(s, it.slice_start, it.slice_len, it.slice_stride);
            it.next();
        }
    }
    return py_scalar(Op::finish(s, PyArray_SIZE(a)));
}

namespace detail {

// Slices whose elements are far apart while neighbouring slices are close
// (reducing along a non-innermost axis) are taken a block of lanes at a time:
// row j of every slice in the block, then row j + 1. Each lane keeps its own
// accumulator and order; the loop runs along memory and across independent
// accumulators, so it is bound by bandwidth rather than by add latency.
inline constexpr npy_intp lane_block = 512;

inline bool lanes_pay(const slice_iter &it) {
    if (it.last_outer < 0 || it.outer_len[it.last_outer] < 2) {
        return false;
    }
    const npy_intp lane = it.outer_stride[it.last_outer];
    const npy_intp step = it.slice_stride;
    return (lane < 0 ? -lane : lane) < (step < 0 ? -step : step);
}

template <class Op>
void reduce_lanes(slice_iter &it, typename Op::out *y) {
    using T = typename Op::in;
    using A = typename Op::acc;
    const int last = it.last_outer;
    const npy_intp lanes = it.outer_len[last];
    const npy_intp lane_stride = it.outer_stride[last];
    const npy_intp len = it.slice_len;
    // Walk the remaining outer dimensions; each step covers a row of lanes.
    it.last_outer = last - 1;
    it.slice_count /= lanes;
    A s[lane_block];
    while (it.more()) {
        for (npy_intp c = 0; c < lanes; c += lane_block) {
            const npy_intp m = lanes - c < lane_block ? lanes - c : lane_block;
            for (npy_intp l = 0; l < m; l++) {
                s[l] = Op::init();
            }
            const char *row = it.slice_start + c * lane_stride;
            for (npy_intp j = 0; j < len; j++, row += it.slice_stride) {
                if (lane_stride == static_cast<npy_intp>(sizeof(T))) {
                    for (npy_intp l = 0; l < m; l++) {
                        Op::add(s[l], load<T>(row + l * sizeof(T)));
                    }
                } else {
                    const char *p = row;
                    for (npy_intp l = 0; l < m; l++, p += lane_stride) {
                        Op::add(s[l], load<T>(p));
                    }
                }
            }
            for (npy_intp l = 0; l < m; l++) {
                y[c + l] = Op::finish(s[l], len);
            }
        }
        y += lanes;
        it.next();
    }
}

}  // namespace detail

// Creates the output of an along-axis reduction: the input's shape without
// `axis`, C order, element type O. Null with NumPy's exception on failure.
template <class O>
py_ref new_reduced_output(const slice_iter &it) {
    return py_ref::steal(PyArray_Empty(it.last_outer + 1, const_cast<npy_intp *>(it.outer_len),
                                       PyArray_DescrFromType(out_typenum<O>), 0));
}

// Reduces every slice of `a` along `axis` into a new array.
template <class Op>
PyObject *reduce_axis(PyArrayObject *a, int axis) {
    using O = typename Op::out;
    slice_iter it;
    slice_iter_init_axis(it, a, axis);
    py_ref out = new_reduced_output<O>(it);
    if (!out) {
        return nullptr;
    }
    O *y = reinterpret_cast<O *>(PyArray_DATA(out.array()));
    {
        gil_released nogil;
        if (it.slice_len == 0) {
            const npy_intp n = PyArray_SIZE(out.array());
            for (npy_intp i = 0; i < n; i++) {
                y[i] = Op::empty();
            }
        } else if (detail::lanes_pay(it)) {
            detail::reduce_lanes<Op>(it, y);
        } else {
            while (it.more()) {
                typename Op::acc s = Op::init();
                add_slice<Op>(s, it.slice_start, it.slice_len, it.slice_stride);
                *y++ = Op::finish(s, it.slice_len);
                it.next();
            }
        }
    }
    return out.release();
}

// The two kernel signatures of the reduce module.
using reduce_whole_fn = PyObject *(*)(PyArrayObject *a, int ddof);
using reduce_axis_fn = PyObject *(*)(PyArrayObject *a, int axis, int ddof);

// Kernels of an accumulating reduction, in the two signatures.
template <class Op>
PyObject *whole_kernel(PyArrayObject *a, int) {
    return reduce_whole<Op>(a);
}
template <class Op>
PyObject *axis_kernel(PyArrayObject *a, int axis, int) {
    return reduce_axis<Op>(a, axis);
}

}  // namespace corvane
