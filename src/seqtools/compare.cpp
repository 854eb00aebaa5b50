// Whole-sequence comparisons: diff (the positions where sequences differ), isdistinct (no
// element twice) and merge_sorted (sorted inputs merged by the standard library's
// heapq.merge, carried by a NativeIter).
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/cached.hpp"
#include "utils/call.hpp"
#include "utils/hashing.hpp"
#include "utils/int_buffer.hpp"
#include "utils/int_table.hpp"
#include "utils/key_table.hpp"
#include "utils/native_iter.hpp"
#include "utils/refvec.hpp"
#include "utils/source.hpp"
#include "utils/walk.hpp"

#include <vector>

namespace tv::seq {

namespace {

// first == v and truth of the result, with no identity shortcut: a NaN differs from itself.
// Exact ints and strs are reflexive and compare without user code, so they are answered
// natively. 1, 0, or -1 with an exception set.
int row_equal(PyObject* a, PyObject* b) noexcept {
    PyTypeObject* tp = Py_TYPE(a);
    if (tp == Py_TYPE(b)) {
        if (tp == &PyLong_Type) {
            if (a == b) return 1;
#if TV_HAVE_LV_TAG
            if (int_is_small(a) && int_is_small(b))
                return small_int_value(a) == small_int_value(b);
#endif
        } else if (tp == &PyUnicode_Type) {
            if (a == b) return 1;
            Py_ssize_t n = PyUnicode_GET_LENGTH(a);
            if (n != PyUnicode_GET_LENGTH(b) || PyUnicode_KIND(a) != PyUnicode_KIND(b))
                return 0;
        }
    }
    Ref r = steal(PyObject_RichCompare(a, b, Py_EQ));
    if (!r) return ffi_err(), -1;
    if (r.get() == Py_True) return 1;
    if (r.get() == Py_False) return 0;
    int t = PyObject_IsTrue(r.get());
    return t < 0 ? (ffi_err(), -1) : t;
}

// All values equal to the first, compared left to right; 1, 0, or -1 with an exception.
int all_equal(PyObject* const* v, size_t n) noexcept {
    for (size_t i = 1; i < n; ++i) {
        int eq = row_equal(v[0], v[i]);
        if (eq != 1) return eq;
    }
    return 1;
}

struct DiffStep {
    DiffStep(std::vector<Source>&& its, Ref deflt, bool has_default, Ref key) noexcept
        : its_(std::move(its)), default_(std::move(deflt)), has_default_(has_default),
          key_(std::move(key)) {}

    PyObject* next() {
        size_t n = its_.size();
        RefVec row, keys;
        row.reserve(n);
        if (key_) keys.reserve(n);
        for (;;) {
            row.clear();
            bool any = false;
            for (Source& it : its_) {
                PyObject* x = it.valid() ? it.next() : nullptr;
                if (x) {
                    any = true;
                } else {
                    if (PyErr_Occurred()) return nullptr;
                    if (!has_default_) return nullptr;  // the shortest input ends it all
                    it.clear();                         // exhausted: the slot is emptied
                    x = Py_NewRef(default_.get());
                }
                row.push(x);
            }
            if (!any) return nullptr;
            int eq;
            if (key_) {
                keys.clear();
                for (size_t i = 0; i < n; ++i) {
                    PyObject* k = direct_call(key_.get(), row[i]);
                    if (!k) return nullptr;
                    keys.push(k);
                }
                eq = all_equal(keys.data(), n);
            } else {
                eq = all_equal(row.data(), n);
            }
            if (eq < 0) return nullptr;
            if (eq == 0) {
                PyObject* t = PyTuple_New((Py_ssize_t)n);
                if (!t) return ffi_err();
                row.move_into(t);
                return t;
            }
        }
    }
    int traverse(visitproc visit, void* arg) {
        for (const Source& it : its_)
            if (int e = it.traverse(visit, arg)) return e;
        return visit_refs(visit, arg, default_, key_);
    }

private:
    std::vector<Source> its_;  // an empty slot has no object
    Ref default_;
    bool has_default_;
    Ref key_;  // null when absent
};

// The merged stream, read through its cached step function.
struct MergeStep {
    explicit MergeStep(Source&& it) noexcept : it_(std::move(it)) {}
    PyObject* next() { return it_.next(); }
    int traverse(visitproc visit, void* arg) { return it_.traverse(visit, arg); }

private:
    Source it_;
};

// A duplicate near the front is the common early exit: the first block is checked in a
// small set, and only a buffer that gets past it pays for a set sized for every element
// (allocating and zeroing that is proportional to the length).
template <class T>
PyObject* distinct_ints(const T* p, size_t n) {
    constexpr size_t kFront = 1024;
    size_t i = 0;
    {
        IntSet<T> front;
        front.reserve(std::min(n, kFront));
        for (; i < n && i < kFront; ++i)
            if (!front.insert(p[i])) return Py_NewRef(Py_False);
    }
    if (i == n) return Py_NewRef(Py_True);
    IntSet<T> seen;
    seen.reserve(n);
    for (size_t j = 0; j < i; ++j) seen.insert(p[j]);
    while (i < n) {
        size_t stop = std::min(n, i + 16 * SignalPoll::kEvery);
        for (; i < stop; ++i)
            if (!seen.insert(p[i])) return Py_NewRef(Py_False);
        // The view pins the buffer: a signal handler cannot move it.
        if (i < n && PyErr_CheckSignals() < 0) return nullptr;
    }
    return Py_NewRef(Py_True);
}

// The seen-set of unique rather than a Python set: one probe per element, with the inline
// hashes of small ints and strs; membership is the same (hash, identity, then == with the
// stored element on the left).
PyObject* distinct_objects(PyObject* seq) {
    KeySet seen;
    bool dup = false;
    bool ok = walk_elements(seq, [&](PyObject* x) {
        int r = seen.insert(x);
        dup = r == 0;
        return r > 0;
    });
    if (dup) return Py_NewRef(Py_False);
    if (!ok) return ffi_err();
    return Py_NewRef(Py_True);
}

InternedStr DEFAULT_NAME{"default"};
InternedStr KEY_NAME{"key"};

}  // namespace

PyObject* isdistinct_impl(PyObject* seq) {
    if (std::optional<PyObject*> r = with_int_elements(
            seq, [&](auto* data, size_t n) { return distinct_ints(data, n); }))
        return *r;
    return distinct_objects(seq);
}

PyObject* merge_sorted_impl(PyObject* seqs, PyObject* key) {
    // Imported on every call (a replaced heapq.merge is honoured); the import system's own
    // entry answers from sys.modules without running any Python-level import machinery.
    Ref heapq = steal(PyImport_ImportModuleLevel("heapq", nullptr, nullptr, nullptr, 0));
    if (!heapq) return ffi_err();
    Ref merge = steal(PyObject_GetAttrString(heapq.get(), "merge"));
    if (!merge) return ffi_err();
    Ref kwargs;
    if (key && key != Py_None) {
        kwargs = steal(PyDict_New());
        if (!kwargs || PyDict_SetItemString(kwargs.get(), "key", key) < 0) return ffi_err();
    }
    Ref merged = steal(PyObject_Call(merge.get(), seqs, kwargs.get()));
    if (!merged) return ffi_err();
    return lazy_over<MergeStep>(merged.get());
}

PyObject* diff_impl(PyObject* const* seqs, Py_ssize_t nseqs, PyObject* kwargs) {
    Ref deflt, key;
    bool has_default = false;
    if (kwargs) {
        PyObject* dname = interned(DEFAULT_NAME);
        PyObject* kname = dname ? interned(KEY_NAME) : nullptr;
        if (!dname || !kname) return ffi_err();
        // "default" counts whatever its value, None included; "key" only when not None.
        deflt = borrow(PyDict_GetItemWithError(kwargs, dname));
        if (!deflt && PyErr_Occurred()) return nullptr;
        has_default = bool(deflt);
        key = borrow(PyDict_GetItemWithError(kwargs, kname));
        if (!key && PyErr_Occurred()) return nullptr;
        if (key.get() == Py_None) key.reset();
    }
    Ref expanded;
    if (nseqs == 1 && PyList_Check(seqs[0])) {
        // One list argument: its elements are the sequences (a snapshot of them).
        expanded = steal(PySequence_Tuple(seqs[0]));
        if (!expanded) return ffi_err();
        seqs = &PyTuple_GET_ITEM(expanded.get(), 0);
        nseqs = PyTuple_GET_SIZE(expanded.get());
    }
    if (nseqs < 2) {
        PyErr_SetString(PyExc_TypeError, "Too few sequences given (min 2 required)");
        return nullptr;
    }
    std::vector<Source> its((size_t)nseqs);
    for (Py_ssize_t i = 0; i < nseqs; ++i)
        if (!its[(size_t)i].open(seqs[i])) return nullptr;
    return make_native_iter<DiffStep>(std::move(its), std::move(deflt), has_default,
                                      std::move(key));
}

}  // namespace tv::seq

using namespace tv;

TV_FUNCTION(isdistinct, "isdistinct(seq)") { return seq::isdistinct_impl(a[0]); }

TV_FUNCTION(diff, "diff(*seqs, **kwargs)") {
    return seq::diff_impl(a.rest, a.nrest, a.kwargs.get());
}

TV_FUNCTION(merge_sorted, "merge_sorted(*seqs, key=None)") {
    Ref seqs = a.rest_tuple();
    return seqs ? seq::merge_sorted_impl(seqs.get(), a[0]) : nullptr;
}
