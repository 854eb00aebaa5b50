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
// coll[key], or a new reference to `deflt` (when not nullptr) for a lookup error.
PyObject* lookup_or_default(PyObject* coll, PyObject* key, PyObject* deflt);
// The pair (head, chain((head,), it)) that peek returns: the head replayed, then the rest.
PyObject* peek_pair(PyObject* head, PyObject* it);
// unique(seq, key): a lazy iterator over the first occurrences (key may be None/nullptr).
PyObject* unique_impl(PyObject* seq, PyObject* key);
// frequencies(seq): a new dict from each distinct element to its count.
PyObject* frequencies_impl(PyObject* seq);
// The key value of `item` (a callable key is called, a list key gives a tuple of lookups,
// anything else is one lookup): a new reference, or nullptr with an exception set.
PyObject* apply_key(PyObject* key, PyObject* item);
// groupby(key, seq): a new dict from each key value to the list of its elements.
PyObject* groupby_impl(PyObject* key, PyObject* seq);
// countby(key, seq): a new dict from each key value to the number of its elements.
PyObject* countby_impl(PyObject* key, PyObject* seq);
// topk(k, seq, key): the k largest elements (by key value when key is not nullptr/None),
// largest first, equal ranks in input order.
PyObject* topk_impl(uint64_t k, PyObject* seq, PyObject* key);

}  // namespace tv::seq

namespace tv::seq {

// An interpose iterator that has read nothing yet: an empty seq yields nothing instead of
// raising StopIteration at the call.
PyObject* interpose_lazy(PyObject* el, PyObject* seq);
// Overlapping windows of n consecutive elements (n already known to be >= 0); the first
// n - 1 elements are read during the call.
PyObject* sliding_window_impl(uint64_t n, PyObject* seq);
// Chunks of n elements, the last one possibly shorter. iter(seq) is called even for n = 0
// (so a non-iterable raises), which then yields nothing; the module's partition_all
// answers n <= 0 before reaching here, without touching seq.
PyObject* partition_all_impl(uint64_t n, PyObject* seq);
// itertools.chain.from_iterable(seqs) through the cached object.
PyObject* concat_impl(PyObject* seqs);
// chain.from_iterable(map(func, seqs)).
PyObject* mapcat_impl(PyObject* func, PyObject* seqs);
// The field `ind` (a list: a tuple of fields) of each element; `deflt` (when not nullptr)
// stands in for a missing field.
PyObject* pluck_impl(PyObject* ind, PyObject* seqs, PyObject* deflt);
// The running results of binop over seq, led by `initial` when it is not nullptr.
PyObject* accumulate_impl(PyObject* binop, PyObject* seq, PyObject* initial);
// True when no two elements of seq are equal.
PyObject* isdistinct_impl(PyObject* seq);
// The sorted merge of the sorted sequences `seqs` (a tuple), by key value when key is not
// None.
PyObject* merge_sorted_impl(PyObject* seqs, PyObject* key);
// The tuples of elements at one position of the sequences that are not all equal; kwargs
// (nullptr or a dict) may give "default" and "key".
PyObject* diff_impl(PyObject* const* seqs, Py_ssize_t nseqs, PyObject* kwargs);
// The pairs (left, right) of elements whose key values agree; a default (nullptr: none)
// stands in for the missing side of an unmatched element.
PyObject* join_impl(PyObject* leftkey, PyObject* leftseq, PyObject* rightkey,
                    PyObject* rightseq, PyObject* left_default, PyObject* right_default);

}  // namespace tv::seq
