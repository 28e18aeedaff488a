// One argument parser for every entry routine, driven by a table of the
// function's parameters.
//
// The rules, the same in every module: without keywords the positional count
// must cover the required parameters and not exceed them all; with keywords
// at least the last parameter must come by keyword, every parameter after
// the positional ones is looked up, and the keywords found must be all the
// dictionary holds (which rejects unknown and repeated ones in one test).
// Nothing is converted here: the entries convert the objects themselves, in
// their own order, before they read the array.
#pragma once

#include "frame/args.hpp"

namespace corvane {

// One parameter: its keyword, the member of Args it lands in, and the
// TypeError when a required one is missing (null: optional). An absent
// parameter leaves its member as Args initialises it.
template <class Args>
struct param {
    PyObject *const *key;
    PyObject *Args::*slot;
    const char *missing;
};

// The messages for a wrong count: of positional arguments alone, of
// positional arguments beside keywords, and of keywords.
struct count_messages {
    const char *positional = "wrong number of arguments";
    const char *beside_keywords = "wrong number of arguments";
    const char *keywords = "wrong number of keyword arguments";
};

template <class Args, int N>
struct signature {
    param<Args> params[N];
    int required;
    count_messages messages = {};
};

// Fills `r` from the call's arguments (borrowed references); false with a
// TypeError (or a keyword lookup's error) set.
// Inlined at every call site, so that the table folds into the code a
// parser written out for one signature would be.
template <class Args, int N>
[[gnu::always_inline]] inline bool parse_args(PyObject *args, PyObject *kwds,
                                              const signature<Args, N> &sig, Args &r) {
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    if (kwds == nullptr || PyDict_GET_SIZE(kwds) == 0) {
        if (n < sig.required || n > N) {
            return type_error(sig.messages.positional);
        }
        for (int i = 0; i < N && i < n; i++) {
            r.*sig.params[i].slot = PyTuple_GET_ITEM(args, i);
        }
        return true;
    }
    if (n >= N) {
        return type_error(sig.messages.beside_keywords);
    }
    Py_ssize_t found = 0;
    for (int i = 0; i < N; i++) {
        const param<Args> &p = sig.params[i];
        if (i < n) {
            r.*p.slot = PyTuple_GET_ITEM(args, i);
            continue;
        }
        PyObject *v = take_keyword(kwds, *p.key, found);
        if (v != nullptr) {
            r.*p.slot = v;
        } else if (PyErr_Occurred()) {
            return false;
        } else if (p.missing != nullptr) {
            return type_error(p.missing);
        }
    }
    if (found != PyDict_GET_SIZE(kwds)) {
        return type_error(sig.messages.keywords);
    }
    return true;
}

// PyArray_PyIntAsInt, with its error replaced by TypeError `msg`.
inline bool as_int(PyObject *o, const char *msg, int &value) {
    value = PyArray_PyIntAsInt(o);
    if (value == -1 && PyErr_Occurred()) {
        PyErr_SetString(PyExc_TypeError, msg);
        return false;
    }
    return true;
}

}  // namespace corvane
