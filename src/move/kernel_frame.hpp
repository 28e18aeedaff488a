// The frame every moving-window kernel runs in.
//
// A kernel is described by an operation type:
//
//   struct op {
//       using in = T;                    // element type read
//       static void slice(const move_slice<T> &s, const move_params &p, void *scratch);
//       // optional: a block of slices side by side (see move_lanes)
//       static void lanes(const move_lanes<T> &s, const move_params &p, void *scratch);
//       // optional: a scratch block shared by all slices of one call, and
//       // its set-up, once per call
//       static npy_intp scratch_bytes(const move_params &p);
//       static void prepare(const move_params &p, void *scratch);
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
#include <type_traits>

#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/pair_iter.hpp"
#include "frame/py_ref.hpp"
#include "frame/scalars.hpp"
#include "move/branch_free.hpp"

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

    // The input may be unaligned (load<T>); the output is a fresh array,
    // always aligned.
    T x(npy_intp j) const { return load<T>(in + j * in_step); }
    O &y(npy_intp j) const { return *reinterpret_cast<O *>(out + j * out_step); }
    // The input as a T array: contiguous and aligned.
    bool contiguous_in() const {
        return in_step == static_cast<npy_intp>(sizeof(T)) &&
               reinterpret_cast<uintptr_t>(in) % alignof(T) == 0;
    }
};

// Slices side by side: lane l (0 <= l < count) is the slice starting at
// in + l * in_lane and out + l * out_lane. Walking the lanes of one position
// after another reads along memory when the slices are far apart but their
// neighbours are close (a moving window along a non-innermost axis).
template <class T>
struct move_lanes {
    using O = move_out<T>;
    const char *in;
    npy_intp in_step;
    npy_intp in_lane;
    char *out;
    npy_intp out_step;
    npy_intp out_lane;
    npy_intp n;
    npy_intp count;

    T x(npy_intp l, npy_intp j) const { return load<T>(in + l * in_lane + j * in_step); }
    O &y(npy_intp l, npy_intp j) const {
        return *reinterpret_cast<O *>(out + l * out_lane + j * out_step);
    }
    move_slice<T> lane(npy_intp l) const {
        return {in + l * in_lane, in_step, out + l * out_lane, out_step, n};
    }
};

// Lanes taken at once: their states stay in the first-level cache.
inline constexpr npy_intp lane_block = 256;

// Lanes pay when the slices' neighbours along the last outer dimension are
// closer in memory than consecutive elements of a slice.
inline bool lanes_pay(const pair_iter &it) {
    if (it.outer_last < 0 || it.outer_extent[it.outer_last] < 2) {
        return false;
    }
    const npy_intp lane = it.in_outer_stride[it.outer_last];
    const npy_intp step = it.in_step;
    return (lane < 0 ? -lane : lane) < (step < 0 ? -step : step);
}

// Lanes handed to Op::lanes at once: Op::lane_count where the operation
// sets it, else lane_block.
template <class Op>
constexpr npy_intp lanes_at_once() {
    if constexpr (requires { Op::lane_count; }) {
        return Op::lane_count;
    } else {
        return lane_block;
    }
}

// For move_walk: a kernel that takes one slice at a time only.
struct no_lanes {};

// Walks every slice of `it`. Where lanes pay (and the kernel takes them),
// blocks of up to Block lanes along the last outer dimension go to
// `lanes(const move_lanes<T> &)`, the other outer dimensions walked as usual;
// otherwise each slice goes to `slice(const move_slice<T> &)`.
// Inlined into each kernel, callables and all, as a loop written there.
template <class T, npy_intp Block, class Slice, class Lanes>
[[gnu::always_inline]] inline void move_walk(pair_iter &it, Slice &&slice, Lanes &&lanes) {
    if constexpr (!std::is_same_v<std::remove_cvref_t<Lanes>, no_lanes>) {
        if (lanes_pay(it)) {
            const int last = it.outer_last;
            const npy_intp count_all = it.outer_extent[last];
            const npy_intp in_lane = it.in_outer_stride[last];
            const npy_intp out_lane = it.out_outer_stride[last];
            it.outer_last = last - 1;
            it.slice_count /= count_all;
            while (it.more()) {
                for (npy_intp c = 0; c < count_all; c += Block) {
                    const npy_intp count = count_all - c < Block ? count_all - c : Block;
                    const move_lanes<T> s{it.in_ptr + c * in_lane, it.in_step, in_lane,
                                          it.out_ptr + c * out_lane, it.out_step, out_lane,
                                          it.axis_length, count};
                    lanes(s);
                }
                it.next();
            }
            return;
        }
    }
    while (it.more()) {
        const move_slice<T> s{it.in_ptr, it.in_step, it.out_ptr, it.out_step, it.axis_length};
        slice(s);
        it.next();
    }
}

// A malloc block owned by one kernel call, freed on every path.
class scratch_block {
  public:
    scratch_block() = default;
    scratch_block(const scratch_block &) = delete;
    scratch_block &operator=(const scratch_block &) = delete;
    ~scratch_block() { std::free(ptr_); }
    // Nothing to allocate is no failure.
    bool allocate(npy_intp bytes) {
        if (bytes <= 0) {
            return true;
        }
        ptr_ = std::malloc(static_cast<size_t>(bytes));
        return ptr_ != nullptr;
    }
    void *get() const { return ptr_; }

  private:
    void *ptr_ = nullptr;
};

// The output of a moving-window kernel, a new C-order array of a's shape
// in O, with `it` set to walk `a` and it along `axis`; null with NumPy's
// error.
template <class O>
[[gnu::always_inline]] inline py_ref move_output(PyArrayObject *a, int axis, pair_iter &it) {
    py_ref out = py_ref::steal(PyArray_Empty(PyArray_NDIM(a), PyArray_SHAPE(a),
                                             PyArray_DescrFromType(out_typenum<O>), 0));
    if (out) {
        pair_iter_init(it, a, out.array(), axis);
    }
    return out;
}

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
    pair_iter it;
    py_ref out = move_output<move_out<T>>(a, axis, it);
    if (!out) {
        return nullptr;
    }
    {
        gil_released nogil;
        if constexpr (requires { Op::prepare(p, scratch.get()); }) {
            Op::prepare(p, scratch.get());
        }
        void *const work = scratch.get();
        const auto slice = [&p, work](const move_slice<T> &s) { Op::slice(s, p, work); };
        if constexpr (requires { Op::lanes; }) {
            move_walk<T, lanes_at_once<Op>()>(
                it, slice, [&p, work](const move_lanes<T> &s) { Op::lanes(s, p, work); });
        } else {
            move_walk<T, lane_block>(it, slice, no_lanes{});
        }
    }
    return out.release();
}

// 1 / k for k = 0 .. window (1 / 0 is +inf), formed in float64 and rounded
// to R: the reciprocals of the counts a window can hold, computed once per
// call so that a step whose count changed needs only a load.
template <class R>
inline void fill_reciprocals(R *table, npy_intp window, npy_intp shift) {
    for (npy_intp k = 0; k <= window; k++) {
        table[k] = static_cast<R>(1.0 / static_cast<double>(k - shift));
    }
}

// The phases of a running statistic over one slice.
//
//   struct state {
//       void init(const move_params &, void *scratch);
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
//
// fill_phases runs the lead-in and the fill of one slice, up to position
// window with st.start_steady() called, for kernels with a steady phase of
// their own.
template <class State, class T>
[[gnu::always_inline]] inline void fill_phases(State &st, const move_slice<T> &s,
                                               const move_params &p) {
    using O = move_out<T>;
    const npy_intp w = p.window;
    const npy_intp m = p.min_count;
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
}

template <class State, class T>
inline void run_phases(const move_slice<T> &s, const move_params &p, void *scratch) {
    const npy_intp w = p.window;
    const npy_intp m = p.min_count;
    const npy_intp n = s.n;
    State st;
    st.init(p, scratch);
    fill_phases(st, s, p);
    for (npy_intp i = w; i < n; i++) {
        st.swap(s.x(i), s.x(i - w));
        s.y(i) = st.steady_value(m);
    }
}

// The same phases over a block of lanes, one position of every lane after
// another.
template <class State, class T>
inline void run_phases(const move_lanes<T> &s, const move_params &p, void *scratch) {
    using O = move_out<T>;
    const npy_intp w = p.window;
    const npy_intp m = p.min_count;
    const npy_intp n = s.n;
    const npy_intp lanes = s.count;
    State st[lane_block];
    for (npy_intp l = 0; l < lanes; l++) {
        st[l].init(p, scratch);
    }
    npy_intp i = 0;
    for (; i < m - 1; i++) {
        for (npy_intp l = 0; l < lanes; l++) {
            st[l].add(s.x(l, i));
            s.y(l, i) = nan_of<O>();
        }
    }
    for (; i < w; i++) {
        for (npy_intp l = 0; l < lanes; l++) {
            st[l].add(s.x(l, i));
            s.y(l, i) = st[l].fill_value(i, m);
        }
    }
    for (npy_intp l = 0; l < lanes; l++) {
        st[l].start_steady();
    }
    for (; i < n; i++) {
        for (npy_intp l = 0; l < lanes; l++) {
            st[l].swap(s.x(l, i), s.x(l, i - w));
            s.y(l, i) = st[l].steady_value(m);
        }
    }
}

}  // namespace corvane
