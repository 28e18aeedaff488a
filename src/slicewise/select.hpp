// partition and argpartition: selection of the kth element of every slice
// along an axis, by the reference selection of frame/selection.hpp.
//
// Kernels: partition_axis_f64 .. partition_axis_i32 and
// argpartition_axis_f64 .. argpartition_axis_i32 (the instances of
// partition_axis<T> and argpartition_axis<T> for double, float, int64_t,
// int32_t).
#pragma once

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/pair_iter.hpp"
#include "frame/py_ref.hpp"
#include "frame/selection.hpp"
#include "slicewise/entry.hpp"
#include "slicewise/select_blocks.hpp"

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
template <class I>
struct positions {
    I *pos;
    void exchange(npy_intp a, npy_intp b) const { std::swap(pos[a], pos[b]); }
};

namespace detail {

// Leaves v[k] where it would be in sorted order, nothing greater before it and
// nothing smaller after it, by the reference selection (frame/selection.hpp).
// n >= 1, 0 <= k < n. Packed slices run the exchange loop by blocks
// (select_blocks.hpp), with the same result as the plain loop used for
// strided ones.
template <class T, bool Simd, class V, class P>
void select_kth(V v, npy_intp n, npy_intp k, P moved) {
    auto exchange = [&](npy_intp a, npy_intp b) {
        std::swap(v[a], v[b]);
        moved.exchange(a, b);
    };
    if constexpr (std::is_pointer_v<V>) {
        auto loop = [&](const T pivot, npy_intp l, npy_intp r, npy_intp &i, npy_intp &j) {
            partition_blocks<T, Simd>(v, pivot, l, r, i, j, moved);
        };
        selection::select_kth<T>(v, n, k, exchange, loop);
    } else {
        selection::select_kth<T>(v, n, k, exchange);
    }
}

// select_kth of a packed slice into v from its packed input src, n >= 2: the
// first round copies the blocks as its scans reach them (fill_from). That
// saves a pass over slices too large for the caches; smaller ones are copied
// faster whole, then selected.
template <class T>
inline constexpr npy_intp copying_round = (npy_intp(1) << 19) / sizeof(T);
template <class T, bool Simd>
void select_kth_copying(T *v, const char *src, npy_intp n, npy_intp k) {
    constexpr npy_intp size = sizeof(T);
    v[0] = load<T>(src);
    v[k] = load<T>(src + k * size);
    v[n - 1] = load<T>(src + (n - 1) * size);
    auto exchange = [v](npy_intp a, npy_intp b) { std::swap(v[a], v[b]); };
    bool first = true;
    auto loop = [&](const T pivot, npy_intp l, npy_intp r, npy_intp &i, npy_intp &j) {
        if (first) {
            first = false;
            const fill_from<T> fill{src, {0, k, n - 1}, {v[0], v[k], v[n - 1]}};
            partition_blocks<T, Simd>(v, pivot, l, r, i, j, no_positions{}, fill);
        } else {
            partition_blocks<T, Simd>(v, pivot, l, r, i, j, no_positions{});
        }
    };
    selection::select_kth<T>(v, n, k, exchange, loop);
}

// Slices gathered together, at most, when their neighbours are packed.
inline constexpr npy_intp select_group = 8;

// Whether the current slice and the next ones along the last outer dimension
// are packed side by side in the input and in the output (an axis other than
// the innermost): then `select_group` of them are copied row by row, whole
// cache lines at a time, instead of one strided slice after another.
inline bool group_here(const pair_iter &it, npy_intp in_size, npy_intp out_size) {
    const int last = it.outer_last;
    return last >= 0 && it.in_outer_stride[last] == in_size &&
           it.out_outer_stride[last] == out_size &&
           it.outer_pos[last] + select_group <= it.outer_extent[last];
}

// Copies `group` input slices (the current one and the next ones, packed
// side by side) into the packed rows buf[g * len ..], g < group.
template <class T>
void gather(const pair_iter &it, npy_intp group, T *buf) {
    const npy_intp len = it.axis_length;
    for (npy_intp i = 0; i < len; i++) {
        const T *x = reinterpret_cast<const T *>(it.in_ptr + i * it.in_step);
        for (npy_intp g = 0; g < group; g++) {
            buf[g * len + i] = x[g];
        }
    }
}

// The inverse of gather, into the output slices.
template <class T>
void scatter(const pair_iter &it, npy_intp group, const T *buf) {
    const npy_intp len = it.axis_length;
    for (npy_intp i = 0; i < len; i++) {
        T *y = reinterpret_cast<T *>(it.out_ptr + i * it.out_step);
        for (npy_intp g = 0; g < group; g++) {
            y[g] = buf[g * len + i];
        }
    }
}

// Copies the current input slice into the packed `buf`.
template <class T>
void copy_slice(const pair_iter &it, T *buf) {
    const npy_intp len = it.axis_length;
    if (it.in_step == static_cast<npy_intp>(sizeof(T))) {
        memcpy(buf, it.in_ptr, static_cast<size_t>(len) * sizeof(T));
    } else {
        for (npy_intp i = 0; i < len; i++) {
            buf[i] = it.in<T>(i);
        }
    }
}

// The slice loop of partition: each input slice is copied into its output
// slice and selected there. Output slices across the memory order are
// selected in the packed scratch `buf` (room for `select_group` slices when
// `grouped`), which keeps the scans within a few cache lines; without it they
// are selected where they lie, with the same result.
template <class T, bool Simd>
void partition_slices(pair_iter &it, npy_intp kth, T *buf, bool grouped) {
    const npy_intp len = it.axis_length;
    const npy_intp size = sizeof(T);
    while (it.more()) {
        npy_intp done = 1;
        if (it.out_step == size && it.in_step == size && len >= copying_round<T>) {
            select_kth_copying<T, Simd>(reinterpret_cast<T *>(it.out_ptr), it.in_ptr, len, kth);
        } else if (it.out_step == size) {
            T *y = reinterpret_cast<T *>(it.out_ptr);
            copy_slice<T>(it, y);
            select_kth<T, Simd>(y, len, kth, no_positions{});
        } else if (buf != nullptr) {
            done = grouped && group_here(it, size, size) ? select_group : 1;
            gather<T>(it, done, buf);
            for (npy_intp g = 0; g < done; g++) {
                select_kth<T, Simd>(buf + g * len, len, kth, no_positions{});
            }
            scatter<T>(it, done, buf);
        } else {
            for (npy_intp i = 0; i < len; i++) {
                it.out<T>(i) = it.in<T>(i);
            }
            select_kth<T, Simd>(strided_view<T>{it.out_ptr, it.out_step}, len, kth,
                                no_positions{});
        }
        for (npy_intp g = 0; g < done; g++) {
            it.next();
        }
    }
}

// Selects in the packed copy `buf` of an input slice, with the positions
// `pos` following every exchange.
template <class T, bool Simd, class I>
void argselect(npy_intp len, npy_intp kth, T *buf, I *pos) {
    for (npy_intp i = 0; i < len; i++) {
        pos[i] = static_cast<I>(i);
    }
    select_kth<T, Simd>(buf, len, kth, positions<I>{pos});
}

// The slice loop of argpartition. With `in_output` (packed output slices not
// longer than 2^31 - 1) each output slice is itself the scratch for the
// values, and the 32-bit positions in `block`, widened into it at the end,
// are all the scratch there is: half the memory traffic of the exchanges and
// less fresh memory per call. Otherwise `block` holds the 64-bit positions and
// then the values of one slice, or of `select_group` slices when `grouped`.
template <class T, bool Simd>
void argpartition_slices(pair_iter &it, npy_intp kth, void *block, bool in_output,
                         bool grouped) {
    const npy_intp len = it.axis_length;
    if (in_output) {
        int32_t *pos = static_cast<int32_t *>(block);
        for (; it.more(); it.next()) {
            T *buf = reinterpret_cast<T *>(it.out_ptr);
            copy_slice<T>(it, buf);
            argselect<T, Simd>(len, kth, buf, pos);
            // The slice's memory changes type from T to int64 here: keep the
            // compiler from moving any store of the selection past this point.
            __asm__ __volatile__("" ::: "memory");
            int64_t *out = reinterpret_cast<int64_t *>(it.out_ptr);
            for (npy_intp i = 0; i < len; i++) {
                out[i] = pos[i];
            }
        }
        return;
    }
    const npy_intp rows = grouped ? select_group : 1;
    int64_t *pos = static_cast<int64_t *>(block);
    T *buf = reinterpret_cast<T *>(pos + rows * len);
    while (it.more()) {
        const npy_intp done =
            grouped && group_here(it, sizeof(T), sizeof(int64_t)) ? select_group : 1;
        gather<T>(it, done, buf);
        for (npy_intp g = 0; g < done; g++) {
            argselect<T, Simd>(len, kth, buf + g * len, pos + g * len);
        }
        scatter<int64_t>(it, done, pos);
        for (npy_intp g = 0; g < done; g++) {
            it.next();
        }
    }
}

// The slice loops, compiled once for any x86-64 and once for AVX-512
// (everything they call inlined into them, so that the vector code is too).
template <class T>
__attribute__((flatten)) void partition_slices_plain(pair_iter &it, npy_intp kth, T *buf,
                                                     bool grouped) {
    partition_slices<T, false>(it, kth, buf, grouped);
}
template <class T>
CORVANE_AVX512 __attribute__((flatten)) void partition_slices_avx512(pair_iter &it, npy_intp kth,
                                                                     T *buf, bool grouped) {
    partition_slices<T, true>(it, kth, buf, grouped);
}
template <class T>
__attribute__((flatten)) void argpartition_slices_plain(pair_iter &it, npy_intp kth, void *block,
                                                        bool in_output, bool grouped) {
    argpartition_slices<T, false>(it, kth, block, in_output, grouped);
}
template <class T>
CORVANE_AVX512 __attribute__((flatten)) void argpartition_slices_avx512(
    pair_iter &it, npy_intp kth, void *block, bool in_output, bool grouped) {
    argpartition_slices<T, true>(it, kth, block, in_output, grouped);
}

// `count` items of `size` bytes from malloc, or null (also when the product
// does not fit a size_t).
inline void *scratch(npy_intp count, size_t size) {
    const size_t n = static_cast<size_t>(count);
    return n <= SIZE_MAX / size ? malloc(n * size) : nullptr;
}

// Whether slices could be gathered in groups (see group_here).
inline bool groups_possible(const pair_iter &it, npy_intp in_size, npy_intp out_size) {
    const int last = it.outer_last;
    return last >= 0 && it.in_outer_stride[last] == in_size &&
           it.out_outer_stride[last] == out_size && it.outer_extent[last] >= select_group;
}

}  // namespace detail

// Raises the error for a kth outside 0 .. length - 1; returns null.
inline PyObject *kth_out_of_range(int kth, npy_intp length) {
    return PyErr_Format(PyExc_ValueError, "`n` (=%d) must be between 0 and %zd, inclusive.", kth,
                        static_cast<Py_ssize_t>(length - 1));
}

// A copy of `a` (same element type; Fortran order when `a` is Fortran
// contiguous, else C order; a plain ndarray) with every slice along `axis`
// partitioned at `kth`.
template <class T>
PyObject *partition_axis(PyArrayObject *a, int axis, int kth) {
    // The output is laid out like NumPy's copy with NPY_ANYORDER and filled
    // slice by slice, each slice copied just before it is selected.
    py_ref y = py_ref::steal(PyArray_Empty(PyArray_NDIM(a), PyArray_SHAPE(a),
                                           PyArray_DescrFromType(dtype<T>::typenum),
                                           PyArray_ISFORTRAN(a)));
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
    const bool simd = have_avx512();
    {
        gil_released nogil(worth_releasing(PyArray_SIZE(a)));
        const npy_intp size = sizeof(T);
        // Scratch only for output slices across the memory order; it is a
        // help, not a need, so a failed allocation just goes without.
        T *buf = nullptr;
        bool grouped = false;
        if (it.out_step != size) {
            if (detail::groups_possible(it, size, size)) {
                buf = static_cast<T *>(detail::scratch(detail::select_group * len, sizeof(T)));
                grouped = buf != nullptr;
            }
            if (buf == nullptr) {
                buf = static_cast<T *>(detail::scratch(len, sizeof(T)));
            }
        }
        if (simd) {
            detail::partition_slices_avx512<T>(it, kth, buf, grouped);
        } else {
            detail::partition_slices_plain<T>(it, kth, buf, grouped);
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
    static_assert(sizeof(T) <= sizeof(int64_t));
    const bool in_output =
        it.out_step == static_cast<npy_intp>(sizeof(int64_t)) && len <= INT32_MAX;
    const bool simd = have_avx512();
    bool allocated;
    {
        gil_released nogil(worth_releasing(PyArray_SIZE(a)));
        void *block = nullptr;
        bool grouped = false;
        if (in_output) {
            block = detail::scratch(len, sizeof(int32_t));
        } else {
            const size_t per = sizeof(T) + sizeof(int64_t);
            if (detail::groups_possible(it, sizeof(T), sizeof(int64_t))) {
                block = detail::scratch(detail::select_group * len, per);
                grouped = block != nullptr;
            }
            if (block == nullptr) {
                block = detail::scratch(len, per);
            }
        }
        allocated = block != nullptr;
        if (allocated && simd) {
            detail::argpartition_slices_avx512<T>(it, kth, block, in_output, grouped);
        } else if (allocated) {
            detail::argpartition_slices_plain<T>(it, kth, block, in_output, grouped);
        }
        free(block);
    }
    if (!allocated) {
        return PyErr_NoMemory();
    }
    return y.release();
}

}  // namespace corvane
