// The interned keyword strings the entry routines look arguments up by.
//
// Each module defines (and exports) the ones it uses; they are created at
// import and live for the life of the process.
#pragma once

#include "frame/numpy_api.hpp"

CORVANE_EXPORT PyObject *pystr_a;
CORVANE_EXPORT PyObject *pystr_axis;
CORVANE_EXPORT PyObject *pystr_ddof;
CORVANE_EXPORT PyObject *pystr_window;
CORVANE_EXPORT PyObject *pystr_min_count;
CORVANE_EXPORT PyObject *pystr_n;
CORVANE_EXPORT PyObject *pystr_kth;
CORVANE_EXPORT PyObject *pystr_old;
CORVANE_EXPORT PyObject *pystr_new;
CORVANE_EXPORT PyObject *pystr_q;
CORVANE_EXPORT PyObject *pystr_alpha;
CORVANE_EXPORT PyObject *pystr_min_weight;
