// pluck: element[ind] for every element of a stream, or a tuple of several lookups.
#include "seqtools/seqtools.hpp"
#include "utils/threading.hpp"

#include "utils/binder.hpp"
#include "utils/native_iter.hpp"
#include "utils/refvec.hpp"
#include "utils/registry.hpp"
#include "utils/source.hpp"

namespace tv::seq {

namespace {

// An exact int index reads exact tuples and lists in place; their __getitem__ cannot be
// overridden, so only the error cases need the generic lookup. Whether `ind` is one.
bool direct_index(PyObject* ind, Py_ssize_t& idx) {
    if (!PyLong_CheckExact(ind)) return false;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(ind, &overflow);
    if (overflow || v < -(long long)PY_SSIZE_T_MAX || v > (long long)PY_SSIZE_T_MAX)
        return false;
    idx = (Py_ssize_t)v;
    return true;
}

struct PluckState {
    static constexpr const char* kName = "PluckIter";
    static constexpr const char* kDoc =
        "Dedicated iterator for pluck() with one index and no default: one item lookup\n"
        "per element behind the raw iterator slot, instead of a map over an item getter.";
    static constexpr const char* kHintDoc =
        "__length_hint__($self)\n--\n\nOne output per remaining source element (PEP 424): "
        "exact for list\nsources, the source's own hint otherwise.";

    PluckState(Ref key, Source src)
        : ind(std::move(key)), source(std::move(src)), direct(direct_index(ind.get(), idx)) {}

    Ref ind;
    Source source;
    Py_ssize_t idx = 0;
    bool direct;

    PyObject* next() {
        Ref x = steal(source.next());
        if (!x) return nullptr;
        PyObject* e = x.get();
        if (direct) {
            PyObject** items = nullptr;
            Py_ssize_t size = 0;
            if (PyTuple_CheckExact(e)) {
                items = ((PyTupleObject*)e)->ob_item;
                size = PyTuple_GET_SIZE(e);
            } else if (PyList_CheckExact(e)) {
                size = PyList_GET_SIZE(e);
                Py_ssize_t i = idx < 0 ? idx + size : idx;
                if (i >= 0 && i < size)
                    if (PyObject* v = list_item(e, i)) return v;
            }
            Py_ssize_t i = idx < 0 ? idx + size : idx;
            if (items && i >= 0 && i < size) return Py_NewRef(items[i]);
        }
        PyObject* r = PyObject_GetItem(e, ind.get());
        return r ? r : ffi_err();
    }

    Py_ssize_t hint() { return source.remaining(); }

    int traverse(visitproc visit, void* arg) { return visit_refs(visit, arg, ind, source); }
    void clear() {
        source.clear();
        ind.reset();
    }
};

using PluckIter = LazyIter<PluckState>;

TV_REGISTER("#PluckIter", PluckIter::make_type);

// Index lists and defaults. There is no end flag: a step after the end asks the source again.
struct PluckStep {
    PluckStep(Source&& src, Ref key, Ref deflt)
        : src_(std::move(src)), ind_(std::move(key)), deflt_(std::move(deflt)),
          many_(PyList_Check(ind_.get())) {}

    PyObject* next() {
        Ref x = steal(src_.next());
        if (!x) return nullptr;
        if (!many_) return lookup_or_default(x.get(), ind_.get(), deflt_.get());
        // A step that threw (the array could not grow) left its lookups behind.
        vals_.clear();
        PyObject* keys = ind_.get();
        // A lookup may run Python code that shrinks the key list: the walk stops at the
        // shorter of its length at the start and its current one.
        Py_ssize_t n = PyList_GET_SIZE(keys);
        if (vals_.capacity() == 0) vals_.reserve(4);
        for (Py_ssize_t i = 0; i < n && i < PyList_GET_SIZE(keys); ++i) {
            Ref key = steal(list_item(keys, i));
            if (!key) break;  // shrunk by another thread
            PyObject* v = lookup_or_default(x.get(), key.get(), deflt_.get());
            if (!v) {
                vals_.clear();
                return nullptr;
            }
            vals_.push(v);
        }
        PyObject* t = PyTuple_New((Py_ssize_t)vals_.size());
        if (t) vals_.move_into(t);
        else vals_.clear();
        return t;
    }

    int traverse(visitproc visit, void* arg) {
        if (int e = visit_refs(visit, arg, src_, ind_, deflt_)) return e;
        return vals_.traverse(visit, arg);
    }

private:
    Source src_;
    Ref ind_;
    Ref deflt_;
    bool many_;
    RefVec vals_;  // the lookups of the current element
};

}  // namespace

PyObject* pluck_impl(PyObject* ind, PyObject* seqs, PyObject* deflt) {
    if (!deflt && !PyList_Check(ind)) {
        Source src;
        if (!src.open(seqs)) return nullptr;
        return PluckIter::create(borrow(ind), std::move(src));
    }
    return lazy_over<PluckStep>(seqs, borrow(ind), borrow(deflt));
}

}  // namespace tv::seq

using namespace tv;
using namespace tv::seq;

TV_FUNCTION(pluck, "pluck(ind, seqs, *rest)", tail_at_most(1)) {
    return pluck_impl(a[0], a[1], a.nrest ? a.rest[0] : nullptr);
}
