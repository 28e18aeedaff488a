// The frame every moving-window kernel runs in.
//
// A kernel is described by an operation type:
//
//   struct op {
//       using in = T;                    // element type read
//       static void slice(const move_slice<T> &s, const move_params &p, void *scratch);
//       // optional: a scratch block shared by all slices of one call
//       static npy_intp scratch_bytes(const move_params &p);
//       static constexpr const char *name = "move_...";      // for MemoryError
//   };
//
// move_run<op> creates the output (the input's shape, C order, move_out<T>),
// allocates the scratch block, releases the interpreter lock once for all
// slices, and hands each slice to op::slice. Slices are read and written
// through their own strides: no copy of the input is made.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/pair_iter.hpp"
#include "frame/py_ref.hpp"
#include "frame/scalars.hpp"

namespace corvane {

// (array, window, min_count, axis, ddof) -> new array or null. The entry has
// checked 1 <= window <= length along axis, 1 <= min_count <= window, and
// normalised axis to 0..ndim-1.
using move_kernel = PyObject *(*)(PyArrayObject *a, int window, int min_count, int axis,
                                  int ddof);

// Floats keep their precision; integer inputs give float64.
template <class T>
using move_out = real_of<T>;

struct move_params {
    npy_intp window;
    npy_intp min_count;
    int ddof;
};

// One slice: n input elements x(0..n-1) and the output elements y(0..n-1).
template <class T>
struct move_slice {
    using O = move_out<T>;
    const char *in;
    npy_intp in_step;
    char *out;
    npy_intp out_step;
    npy_intp n;

    // NumPy arrays need not be aligned (a view at a byte offset, a field of
    // a record): the input is read through memcpy, which compiles to a plain
    // load. The output is a fresh array, always aligned.
    T x(npy_intp j) const {
        T v;
        std::memcpy(&v, in + j * in_step, sizeof(T));
        return v;
    }
    O &y(npy_intp j) const { return *reinterpret_cast<O *>(out + j * out_step); }
    // The input as a T array: contiguous and aligned.
    bool contiguous_in() const {
        return in_step == static_cast<npy_intp>(sizeof(T)) &&
               reinterpret_cast<uintptr_t>(in) % alignof(T) == 0;
    }
};

// A malloc block owned by one kernel call, freed on every path.
class scratch_block {
  public:
    scratch_block() = default;
    scratch_block(const scratch_block &) = delete;
    scratch_block &operator=(const scratch_block &) = delete;
    ~scratch_block() { std::free(ptr_); }
    bool allocate(npy_intp bytes) {
        ptr_ = bytes > 0 ? std::malloc(static_cast<size_t>(bytes)) : nullptr;
        return ptr_ != nullptr;
    }
    void *get() const { return ptr_; }

  private:
    void *ptr_ = nullptr;
};

template <class Op>
PyObject *move_run(PyArrayObject *a, int window, int min_count, int axis, int ddof) {
    using T = typename Op::in;
    const move_params p{window, min_count, ddof};
    // The scratch block comes first, so a failed allocation has nothing else
    // to release.
    scratch_block scratch;
    if constexpr (requires { Op::scratch_bytes(p); }) {
        if (!scratch.allocate(Op::scratch_bytes(p))) {
            PyErr_Format(PyExc_MemoryError, "Could not allocate memory for %s", Op::name);
            return nullptr;
        }
    }
    py_ref out = py_ref::steal(PyArray_Empty(PyArray_NDIM(a), PyArray_SHAPE(a),
                                             PyArray_DescrFromType(out_typenum<move_out<T>>), 0));
    if (!out) {
        return nullptr;
    }
    pair_iter it;
    pair_iter_init(it, a, out.array(), axis);
    {
        gil_released nogil;
        while (it.more()) {
            const move_slice<T> s{it.in_ptr, it.in_step, it.out_ptr, it.out_step, it.axis_length};
            Op::slice(s, p, scratch.get());
            it.next();
        }
    }
    return out.release();
}

// The phases of a running statistic over one slice.
//
//   struct state {
//       explicit state(const move_params &);
//       void add(T x);                        // fill phase: x enters
//       O fill_value(npy_intp i, npy_intp m); // output at fill position i
//       void start_steady();                  // the window is full
//       void swap(T in, T out);               // steady phase: in enters, out leaves
//       O steady_value(npy_intp m);
//   };
//
// The first min_count - 1 outputs (the lead-in) are NaN whatever the state
// says; from there on the state applies the min_count rule to its own count
// of non-NaN values.
template <class State, class T>
inline void run_phases(const move_slice<T> &s, const move_params &p) {
    using O = move_out<T>;
    const npy_intp w = p.window;
    const npy_intp m = p.min_count;
    const npy_intp n = s.n;
    State st(p);
    npy_intp i = 0;
    for (; i < m - 1; i++) {
        st.add(s.x(i));
        s.y(i) = nan_of<O>();
    }
    for (; i < w; i++) {
        st.add(s.x(i));
        s.y(i) = st.fill_value(i, m);
    }
    st.start_steady();
    for (; i < n; i++) {
        st.swap(s.x(i), s.x(i - w));
        s.y(i) = st.steady_value(m);
    }
}

// The class of a float value as the running states see it. A value is finite
// exactly when x - x is zero (infinities and NaN give NaN).
template <class T>
inline bool is_finite_value(T x) {
    if constexpr (is_float<T>) {
        return x - x == T(0);
    } else {
        return true;
    }
}

}  // namespace corvane
