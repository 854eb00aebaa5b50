// The option-returning accessors: first_opt, last_opt, nth_opt, get_opt, get_in_opt,
// peek_opt. Absence is a new Nothing; which failures count as absence differs per tool.
#include "option/option.hpp"
#include "utils/threading.hpp"
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/cached.hpp"
#include "utils/source.hpp"

namespace tv::opt {

namespace {

// Some(x) for an element just read, a new Nothing at the end, or the source's error.
PyObject* opt_of(PyObject* x) {
    if (x) return some(steal(x));
    return PyErr_Occurred() ? nullptr : nothing();
}

// The iterators of an exact list or tuple run no Python code, never fail and yield the items
// in order, so reading by index gives the same outcome without an iterator object.
// For an exact list or tuple: stores Some(item i) (counted from the end when `from_end`) or
// a new Nothing in *out and returns true; false for any other input.
bool exact_seq_opt(PyObject* seq, uint64_t i, bool from_end, PyObject** out) {
    bool list = PyList_CheckExact(seq);
    if (!list && !PyTuple_CheckExact(seq)) return false;
    Py_ssize_t n = list ? PyList_GET_SIZE(seq) : PyTuple_GET_SIZE(seq);
    if (i >= (uint64_t)n) {
        *out = nothing();
        return true;
    }
    Py_ssize_t k = from_end ? n - 1 - (Py_ssize_t)i : (Py_ssize_t)i;
    if (!list) {
        *out = some(borrow(PyTuple_GET_ITEM(seq, k)));
        return true;
    }
    // Gone when another thread shrank the list since its size was read.
    Ref item = steal(list_item(seq, k));
    *out = item ? some(std::move(item)) : nothing();
    return true;
}

// coll[key] with lookup errors turned into an empty Ref and no exception; other errors
// come back as an empty Ref with the exception set.
Ref lookup(PyObject* coll, PyObject* key) {
    Ref r = steal(PyObject_GetItem(coll, key));
    if (!r) {
        if (!discard_lookup_error()) ffi_err();
    }
    return r;
}

}  // namespace

PyObject* first_opt_impl(PyObject* seq) {
    if (PyObject* r; exact_seq_opt(seq, 0, false, &r)) return r;
    Source src;
    return src.open(seq) ? opt_of(src.next()) : nullptr;
}

PyObject* last_opt_impl(PyObject* seq) {
    if (PyObject* r; exact_seq_opt(seq, 0, true, &r)) return r;
    Source src;
    if (!src.open(seq)) return nullptr;
    Ref latest;
    if (!src.drain([&](PyObject* x) { return latest.reset(x), true; })) return nullptr;
    return latest ? some(std::move(latest)) : nothing();
}

PyObject* nth_opt_impl(uint64_t n, PyObject* seq) {
    if (PyObject* r; exact_seq_opt(seq, n, false, &r)) return r;
    Source src;
    if (!src.open(seq)) return nullptr;
    // An ordinary failure still counts as a skipped element.
    int skipped = src.skip(n);
    if (skipped <= 0) return skipped < 0 ? nullptr : nothing();
    return opt_of(src.next());
}

}  // namespace tv::opt

using namespace tv;
using namespace tv::opt;

TV_FUNCTION(first_opt, "first_opt(seq)") { return first_opt_impl(a[0]); }

TV_FUNCTION(last_opt, "last_opt(seq)") { return last_opt_impl(a[0]); }

TV_FUNCTION(nth_opt, "nth_opt(n, seq)", {"n", Conv::U64}) {
    return nth_opt_impl(a.u64(0), a[1]);
}

TV_FUNCTION(get_opt, "get_opt(ind, coll)") {
    Ref r = lookup(a[1], a[0]);
    if (r) return some(std::move(r));
    return PyErr_Occurred() ? nullptr : nothing();
}

TV_FUNCTION(get_in_opt, "get_in_opt(coll, *keys)") {
    // The keys live in the caller's argument vector, which stays put for the whole call.
    Ref cur = borrow(a[0]);
    SignalPoll poll;
    for (Py_ssize_t i = 0; i < a.nrest; ++i) {
        if (!poll.ok()) return nullptr;
        cur = lookup(cur.get(), a.rest[i]);
        if (!cur) return PyErr_Occurred() ? nullptr : nothing();
    }
    return some(std::move(cur));
}

TV_FUNCTION(peek_opt, "peek_opt(seq)") {
    Ref it = steal(PyObject_GetIter(a[0]));
    if (!it) return nullptr;
    Ref head = steal(iter_next(it.get()));
    if (!head) return opt_of(nullptr);
    return some(steal(seq::peek_pair(head.get(), it.get())));
}
