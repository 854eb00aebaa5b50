// The eager walk of the counting and grouping tools: an exact list by position, re-reading
// its size at every step (callbacks may grow or shrink it), an exact tuple by position,
// anything else through its iterator. Each element is held by a strong reference while the
// visitor runs, and the walk can be interrupted by a signal.
#pragma once
#include "utils/source.hpp"

namespace tv {

// Elements between two signal checks: PyErr_CheckSignals is one atomic read when no signal
// is pending, so this is cheap, yet a Ctrl-C stops a long native loop at once.
inline constexpr size_t kSignalEvery = 4096;

// A countdown that asks for pending signals every kSignalEvery ticks. tick() returns false
// with the handler's exception set.
class SignalTick {
public:
    bool tick() noexcept {
        if (--left_ != 0) [[likely]] return true;
        left_ = kSignalEvery;
        return PyErr_CheckSignals() == 0;
    }

private:
    size_t left_ = kSignalEvery;
};

// The number of elements walk_elements will visit, when the input says so without running
// any code of its own (exact list or tuple), else 0.
inline size_t known_length(PyObject* seq) noexcept {
    if (PyList_CheckExact(seq) || PyTuple_CheckExact(seq)) return (size_t)Py_SIZE(seq);
    return 0;
}

// Calls visit(x) (x borrowed, kept alive for the call) for each element of `seq`; visit
// returns false with an exception set to stop the walk. Returns false with an exception
// set on any failure, true at the end of the input.
template <class Visit>
bool walk_elements(PyObject* seq, Visit&& visit) {
    SignalTick sig;
    if (PyList_CheckExact(seq)) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(seq); ++i) {
            Ref x = borrow(PyList_GET_ITEM(seq, i));
            if (!visit(x.get()) || !sig.tick()) return false;
        }
        return true;
    }
    if (PyTuple_CheckExact(seq)) {
        // A tuple cannot change and holds its items for as long as we hold it.
        Ref keep = borrow(seq);
        for (Py_ssize_t i = 0, n = PyTuple_GET_SIZE(seq); i < n; ++i)
            if (!visit(PyTuple_GET_ITEM(seq, i)) || !sig.tick()) return false;
        return true;
    }
    IterSource src;
    if (!src.open(seq)) return false;
    while (Ref x = steal(src.next())) {
        if (!visit(x.get()) || !sig.tick()) return false;
    }
    return !PyErr_Occurred();
}

}  // namespace tv
