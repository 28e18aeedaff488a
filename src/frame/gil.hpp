// Releases the interpreter lock for the lifetime of a scope.
//
// Kernels create their outputs with the lock held, open one of these around
// the numeric loop only, and let it close before they touch a Python object or
// set an exception.
#pragma once

#include "frame/numpy_api.hpp"

namespace corvane {

class gil_released {
  public:
    gil_released() : state_(PyEval_SaveThread()) {}
    // Keeps the lock when `release` is false: a loop over a handful of
    // elements ends sooner than releasing and retaking the lock would.
    explicit gil_released(bool release) : state_(release ? PyEval_SaveThread() : nullptr) {}
    ~gil_released() {
        if (state_ != nullptr) {
            PyEval_RestoreThread(state_);
        }
    }
    gil_released(const gil_released &) = delete;
    gil_released &operator=(const gil_released &) = delete;

  private:
    PyThreadState *state_;
};

// Whether a loop over `elements` elements is long enough to release the lock
// for (the threshold NumPy uses for the same purpose).
inline bool worth_releasing(npy_intp elements) { return elements > 500; }

}  // namespace corvane
