// groupby, countby, reduceby: bucket the elements of an iterable by a key. groupby and
// countby find groups through the native hash index and touch a dict only to build the
// result; reduceby folds straight into its result dict.
#include "seqtools/keys.hpp"
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/key_table.hpp"
#include "utils/walk.hpp"

namespace tv::seq {

PyObject* apply_key(PyObject* key, PyObject* item) { return KeyFn(key)(item); }

PyObject* groupby_impl(PyObject* key, PyObject* seq) {
    KeyFn keyfn(key);
    KeyTable<Ref> groups;
    bool ok = walk_elements(seq, [&](PyObject* x) {
        Ref k = steal(keyfn(x));
        if (!k) return false;
        bool inserted;
        Ref* members = groups.find_or_add(k.get(), inserted);
        if (!members) return false;
        if (inserted) {
            // The group's list is built in place: the result stores it as it is.
            *members = steal(PyList_New(0));
            if (!*members) return false;
        }
        return PyList_Append(members->get(), x) == 0;
    });
    if (!ok) return ffi_err();
    return groups.to_dict([](Ref& members) { return members.release(); });
}

PyObject* countby_impl(PyObject* key, PyObject* seq) {
    KeyFn keyfn(key);
    Tally tally(known_length(seq));
    bool ok = walk_elements(seq, [&](PyObject* x) {
        Ref k = steal(keyfn(x));
        return k && tally.add(k.get());
    });
    if (!ok) return ffi_err();
    return tally.result();
}

namespace {

// The fold of binop over the elements of each key, in a dict from the start (binop sees
// only the accumulator and the element, so no native index would save a dict access).
PyObject* reduceby_impl(PyObject* key, PyObject* binop, PyObject* seq, PyObject* init) {
    KeyFn keyfn(key);
    bool init_call = init && PyCallable_Check(init);
    Ref out = steal(PyDict_New());
    if (!out) return ffi_err();
    IterSource src;
    if (!src.open(seq)) return nullptr;
    SignalTick sig;
    PyObject* d = out.get();
    while (Ref x = steal(src.next())) {
        Ref k = steal(keyfn(x.get()));
        if (!k) return nullptr;
        Ref acc = borrow(PyDict_GetItemWithError(d, k.get()));
        if (!acc && PyErr_Occurred()) return nullptr;
        Ref v;
        if (acc) {
            v = steal(call2(binop, acc.get(), x.get()));
        } else if (!init) {
            v = std::move(x);
        } else {
            Ref start = init_call ? steal(PyObject_CallNoArgs(init)) : borrow(init);
            if (!start) return ffi_err();
            v = steal(call2(binop, start.get(), x.get()));
        }
        if (!v || PyDict_SetItem(d, k.get(), v.get()) < 0) return ffi_err();
        if (!sig.tick()) return nullptr;
    }
    if (PyErr_Occurred()) return nullptr;
    return out.release();
}

}  // namespace

}  // namespace tv::seq

using namespace tv;

TV_FUNCTION(groupby, "groupby(key, seq)") { return seq::groupby_impl(a[0], a[1]); }

TV_FUNCTION(countby, "countby(key, seq)") { return seq::countby_impl(a[0], a[1]); }

TV_FUNCTION(reduceby, "reduceby(key, binop, seq, *rest)") {
    if (a.nrest > 1) {
        PyErr_SetString(PyExc_TypeError, "reduceby takes at most 4 arguments");
        return nullptr;
    }
    return seq::reduceby_impl(a[0], a[1], a[2], a.nrest ? a.rest[0] : nullptr);
}
