// partition and argpartition: selection of the kth element of every slice
// along an axis, with a median-of-three pivot.
//
// Kernels: partition_axis_f64 .. partition_axis_i32 and
// argpartition_axis_f64 .. argpartition_axis_i32 (the instances of
// partition_axis<T> and argpartition_axis<T> for double, float, int64_t,
// int32_t).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/pair_iter.hpp"
#include "frame/py_ref.hpp"
#include "slicewise/entry.hpp"

namespace corvane {

// A slice whose elements are `step` bytes apart, indexed like a pointer.
template <class T>
struct strided_view {
    char *base;
    npy_intp step;
    T &operator[](npy_intp i) const { return *reinterpret_cast<T *>(base + i * step); }
};

// What moves along with every exchange of two values: nothing (partition) or
// the positions array (argpartition).
struct no_positions {
    void exchange(npy_intp, npy_intp) const {}
};
struct positions {
    int64_t *pos;
    void exchange(npy_intp a, npy_intp b) const { std::swap(pos[a], pos[b]); }
};

// Leaves v[k] where it would be in sorted order, nothing greater before it and
// nothing smaller after it. n >= 2, 0 <= k < n. Strict comparisons throughout,
// so NaN (never less, never greater) stops both scans and the loop still ends.
template <class T, class V, class P>
void select_kth(V v, npy_intp n, npy_intp k, P moved) {
    auto exchange = [&](npy_intp a, npy_intp b) {
        std::swap(v[a], v[b]);
        moved.exchange(a, b);
    };
    npy_intp l = 0;
    npy_intp r = n - 1;
    while (l < r) {
        // Median of v[l], v[k], v[r] into position k; on a tie between v[l]
        // and v[r] the exchange is with v[r].
        const T al = v[l];
        const T ak = v[k];
        const T ar = v[r];
        if (al > ak) {
            if (ak < ar) {
                exchange(k, al < ar ? l : r);
            }
        } else if (ak > ar) {
            exchange(k, al > ar ? l : r);
        }
        const T pivot = v[k];
        npy_intp i = l;
        npy_intp j = r;
        do {
            while (v[i] < pivot) {
                i++;
            }
            while (pivot < v[j]) {
                j--;
            }
            if (i <= j) {
                exchange(i, j);
                i++;
                j--;
            }
        } while (i <= j);
        if (j < k) {
            l = i;
        }
        if (k < i) {
            r = j;
        }
    }
}

// Raises the error for a kth outside 0 .. length - 1; returns null.
inline PyObject *kth_out_of_range(int kth, npy_intp length) {
    return PyErr_Format(PyExc_ValueError, "`n` (=%d) must be between 0 and %zd, inclusive.", kth,
                        static_cast<Py_ssize_t>(length - 1));
}

// A copy of `a` (same element type and memory order) with every slice along
// `axis` partitioned at `kth`.
template <class T>
PyObject *partition_axis(PyArrayObject *a, int axis, int kth) {
    py_ref y = py_ref::steal(PyArray_NewCopy(a, NPY_ANYORDER));
    if (!y) {
        return nullptr;
    }
    pair_iter it;
    pair_iter_init(it, y.array(), y.array(), axis);
    const npy_intp len = it.axis_length;
    if (len == 0) {
        return y.release();
    }
    if (kth < 0 || kth > len - 1) {
        return kth_out_of_range(kth, len);
    }
    if (len < 2) {
        return y.release();
    }
    {
        gil_released nogil;
        const bool packed = it.out_step == static_cast<npy_intp>(sizeof(T));
        // Slices across the memory order are selected in a packed copy, which
        // keeps the scans within a few cache lines; should that copy not be
        // available they are selected where they lie, with the same result.
        T *buf = packed ? nullptr : static_cast<T *>(malloc(sizeof(T) * len));
        for (; it.more(); it.next()) {
            if (packed) {
                select_kth<T>(reinterpret_cast<T *>(it.out_ptr), len, kth, no_positions{});
            } else if (buf != nullptr) {
                for (npy_intp i = 0; i < len; i++) {
                    buf[i] = it.out<T>(i);
                }
                select_kth<T>(buf, len, kth, no_positions{});
                for (npy_intp i = 0; i < len; i++) {
                    it.out<T>(i) = buf[i];
                }
            } else {
                select_kth<T>(strided_view<T>{it.out_ptr, it.out_step}, len, kth, no_positions{});
            }
        }
        free(buf);
    }
    return y.release();
}

// The int64 positions that would partition every slice of `a` along `axis`
// at `kth`; `a` is not modified.
template <class T>
PyObject *argpartition_axis(PyArrayObject *a, int axis, int kth) {
    py_ref y = py_ref::steal(PyArray_Empty(PyArray_NDIM(a), PyArray_SHAPE(a),
                                           PyArray_DescrFromType(NPY_INT64), 0));
    if (!y) {
        return nullptr;
    }
    pair_iter it;
    pair_iter_init(it, a, y.array(), axis);
    const npy_intp len = it.axis_length;
    if (len == 0) {
        return y.release();
    }
    if (kth < 0 || kth > len - 1) {
        return kth_out_of_range(kth, len);
    }
    bool allocated;
    {
        gil_released nogil;
        // One scratch block per call: the values of a slice and, when the
        // output slice is not packed, its positions (written out at the end).
        const bool packed = it.out_step == static_cast<npy_intp>(sizeof(int64_t));
        const size_t per = sizeof(T) + (packed ? 0 : sizeof(int64_t));
        const size_t count = static_cast<size_t>(len);
        void *block = count <= SIZE_MAX / per ? malloc(per * count) : nullptr;
        allocated = block != nullptr;
        if (allocated) {
            T *buf = static_cast<T *>(block);
            int64_t *scratch_pos = reinterpret_cast<int64_t *>(buf + len);
            for (; it.more(); it.next()) {
                int64_t *pos = packed ? reinterpret_cast<int64_t *>(it.out_ptr) : scratch_pos;
                for (npy_intp i = 0; i < len; i++) {
                    buf[i] = it.in<T>(i);
                    pos[i] = i;
                }
                if (len >= 2) {
                    select_kth<T>(buf, len, kth, positions{pos});
                }
                if (!packed) {
                    for (npy_intp i = 0; i < len; i++) {
                        it.out<int64_t>(i) = pos[i];
                    }
                }
            }
            free(block);
        }
    }
    if (!allocated) {
        return PyErr_NoMemory();
    }
    return y.release();
}

}  // namespace corvane
