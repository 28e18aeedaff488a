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
    ~gil_released() { PyEval_RestoreThread(state_); }
    gil_released(const gil_released &) = delete;
    gil_released &operator=(const gil_released &) = delete;

  private:
    PyThreadState *state_;
};

}  // namespace corvane
