// The eager walk of the counting and grouping tools, over a Source: an exact list by
// position, re-reading its size at every step (callbacks may grow or shrink it), an exact
// tuple by position, anything else through its iterator. Each element is held by a strong
// reference while the visitor runs, and the walk can be interrupted by a signal.
#pragma once
#include "utils/source.hpp"

namespace tv {

// The number of elements walk_elements will visit, when the input says so without running
// any code of its own (exact list or tuple), else 0.
inline size_t known_length(PyObject* seq) noexcept {
    if (PyList_CheckExact(seq)) return (size_t)PyList_GET_SIZE(seq);
    if (PyTuple_CheckExact(seq)) return (size_t)PyTuple_GET_SIZE(seq);
    return 0;
}

// Calls visit(x) (x borrowed, kept alive for the call) for each element of `seq`; visit
// returns false with an exception set to stop the walk. Returns false with an exception
// set on any failure, true at the end of the input.
template <class Visit>
bool walk_elements(PyObject* seq, Visit&& visit) {
    Source src;
    if (!src.open(seq)) return false;
    return src.drain([&](PyObject* x) {
        Ref held = steal(x);
        return visit(held.get());
    });
}

}  // namespace tv
