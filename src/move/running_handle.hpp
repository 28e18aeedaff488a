// What move_median and move_quantile share: a running-statistic handle from
// their C libraries, owned by one call, driven through every slice and reset
// between slices.
#pragma once

#include "frame/pair_iter.hpp"

namespace corvane {

// A handle made by the library's *_new, freed by its *_free on every path.
template <class State, void (*Free)(State *)>
class running_handle {
  public:
    explicit running_handle(State *h) : h_(h) {}
    running_handle(const running_handle &) = delete;
    running_handle &operator=(const running_handle &) = delete;
    ~running_handle() { Free(h_); }
    State *get() const { return h_; }

  private:
    State *h_;
};

// Every slice of `it` through one handle: the first `window` positions (the
// window filling) through fill(x), the others through steady(x), then
// reset() for the next slice. Values enter as doubles; O is the output type.
template <class T, class O, class Fill, class Steady, class Reset>
[[gnu::always_inline]] inline void drive_slices(pair_iter &it, npy_intp window, Fill &&fill,
                                                Steady &&steady, Reset &&reset) {
    const npy_intp n = it.axis_length;
    const npy_intp filled = window < n ? window : n;
    while (it.more()) {
        npy_intp i = 0;
        for (; i < filled; i++) {
            it.out<O>(i) = static_cast<O>(fill(static_cast<double>(it.in<T>(i))));
        }
        for (; i < n; i++) {
            it.out<O>(i) = static_cast<O>(steady(static_cast<double>(it.in<T>(i))));
        }
        reset();
        it.next();
    }
}

}  // namespace corvane
