// Walks an input and an output of the same shape slice by slice along one
// axis, in step: the odometer of slice_iter over two sets of strides.
#pragma once

#include "frame/slice_iter.hpp"

namespace corvane {

struct pair_iter {
    npy_intp axis_length;  // elements per slice
    npy_intp in_step;      // input bytes between elements of a slice
    npy_intp out_step;     // output bytes between elements of a slice
    int outer_last;        // number of outer dimensions - 1
    npy_intp slice_count;
    npy_intp slice_done;
    npy_intp outer_pos[max_dims];
    npy_intp outer_extent[max_dims];
    npy_intp in_outer_stride[max_dims];
    npy_intp out_outer_stride[max_dims];
    char *in_ptr;
    char *out_ptr;

    bool more() const { return slice_done < slice_count; }

    template <class T>
    T in(npy_intp j) const {
        return load<T>(in_ptr + j * in_step);  // inputs may be unaligned
    }
    template <class T>
    T &out(npy_intp j) const {
        return *reinterpret_cast<T *>(out_ptr + j * out_step);
    }

    void next() {
        for (int k = outer_last; k >= 0; k--) {
            if (outer_pos[k] < outer_extent[k] - 1) {
                in_ptr += in_outer_stride[k];
                out_ptr += out_outer_stride[k];
                outer_pos[k]++;
                break;
            }
            in_ptr -= outer_pos[k] * in_outer_stride[k];
            out_ptr -= outer_pos[k] * out_outer_stride[k];
            outer_pos[k] = 0;
        }
        slice_done++;
    }
};

// `input` and `output` have the same shape; `axis` is normalised.
inline void pair_iter_init(pair_iter &it, PyArrayObject *input, PyArrayObject *output, int axis) {
    const int ndim = PyArray_NDIM(input);
    const npy_intp *shape = PyArray_SHAPE(input);
    const npy_intp *in_strides = PyArray_STRIDES(input);
    const npy_intp *out_strides = PyArray_STRIDES(output);
    it.slice_done = 0;
    it.slice_count = 1;
    it.outer_last = ndim - 2;
    it.in_ptr = PyArray_BYTES(input);
    it.out_ptr = PyArray_BYTES(output);
    it.axis_length = 0;
    it.in_step = 0;
    it.out_step = 0;
    int k = 0;
    for (int d = 0; d < ndim; d++) {
        if (d == axis) {
            it.axis_length = shape[d];
            it.in_step = in_strides[d];
            it.out_step = out_strides[d];
        } else {
            it.outer_pos[k] = 0;
            it.in_outer_stride[k] = in_strides[d];
            it.out_outer_stride[k] = out_strides[d];
            it.outer_extent[k] = shape[d];
            it.slice_count *= shape[d];
            k++;
        }
    }
    // Empty slices have nothing to read or write, however many there are.
    if (it.axis_length == 0) {
        it.slice_count = 0;
    }
}

}  // namespace corvane
