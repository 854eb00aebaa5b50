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

}  // namespace tv::seq

namespace tv::seq {

// itertools.chain.from_iterable(seqs) through the cached object.
PyObject* concat_impl(PyObject* seqs);
// chain.from_iterable(map(func, seqs)).
PyObject* mapcat_impl(PyObject* func, PyObject* seqs);
// The running results of binop over seq, led by `initial` when it is not nullptr.
PyObject* accumulate_impl(PyObject* binop, PyObject* seq, PyObject* initial);

}  // namespace tv::seq
