// Entry points of the sequence tools that other families (the fluent Iter, the
// option-returning accessors) share with the module functions.
#pragma once
#include "utils/ref.hpp"

#include <cstdint>

namespace tv::seq {

// The last `n` elements: a slice of the sequence's own type, or a tuple.
PyObject* tail_impl(uint64_t n, PyObject* seq);
// The number of elements (len() when there is one, else by iterating).
PyObject* count_impl(PyObject* seq);
// islice(seq, start, stop[, step]) through the cached itertools.islice.
PyObject* islice_call(PyObject* const* args, size_t nargs);
// unique(seq, key): a lazy iterator over the first occurrences (key may be None/nullptr).
PyObject* unique_impl(PyObject* seq, PyObject* key);
// frequencies(seq): a new dict from each distinct element to its count.
PyObject* frequencies_impl(PyObject* seq);

}  // namespace tv::seq
