// frequencies(seq): counts of each distinct element, keys in order of first occurrence.
// Integer buffers are counted as raw machine integers; everything else by hash and == in a
// native index (or, for mostly distinct input, straight in the result dict: see Tally).
#include "seqtools/seqtools.hpp"
#include "seqtools/tally.hpp"

#include "utils/binder.hpp"
#include "utils/int_buffer.hpp"
#include "utils/int_table.hpp"
#include "utils/walk.hpp"

#include <vector>

namespace tv::seq {

namespace {

// The result is built once the number of keys is known: sized up front, it never rehashes.
PyObject* new_result_dict(size_t n) {
    return _PyDict_NewPresized(n > (size_t)PY_SSIZE_T_MAX ? PY_SSIZE_T_MAX : (Py_ssize_t)n);
}

template <class T>
PyObject* count_ints(const T* p, size_t n) {
    IntMap<T, uint64_t> counts;
    std::vector<T> order;  // each distinct value once, in order of first occurrence
    for (size_t from = 0; from < n; from += kScanRun) {
        if (from && PyErr_CheckSignals()) return nullptr;
        size_t to = n - from > kScanRun ? from + kScanRun : n;
        counts.stream(
            p, from, to, [](uint64_t* c) { ++*c; },
            [&](T v, uint64_t* c) {
                *c = 1;
                order.push_back(v);
                return false;
            });
    }
    Ref out = steal(new_result_dict(order.size()));
    if (!out) return ffi_err();
    for (T v : order) {
        Ref key = steal(box_int(v));
        if (!key) return ffi_err();
        Ref count = steal(PyLong_FromUnsignedLongLong(*counts.find(v)));
        if (!count || PyDict_SetItem(out.get(), key.get(), count.get()) < 0) return ffi_err();
    }
    return out.release();
}

PyObject* count_objects(PyObject* seq) {
    Tally tally(known_length(seq));
    if (!walk_elements(seq, [&](PyObject* x) { return tally.add(x); })) return ffi_err();
    return tally.result();
}

}  // namespace

PyObject* frequencies_impl(PyObject* seq) {
    if (std::optional<PyObject*> r = with_int_elements(
            seq, [&](auto* data, size_t n) { return count_ints(data, n); }))
        return *r;
    return count_objects(seq);
}

}  // namespace tv::seq

TV_FUNCTION(frequencies, "frequencies(seq)") { return tv::seq::frequencies_impl(a[0]); }
