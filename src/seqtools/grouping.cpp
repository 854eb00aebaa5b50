// groupby, countby, reduceby: bucket the elements of an iterable by a key. All three find
// groups through the native hash index and touch a dict only to build the result.
#include "seqtools/keys.hpp"
#include "seqtools/seqtools.hpp"
#include "seqtools/tally.hpp"

#include "utils/binder.hpp"
#include "utils/members.hpp"
#include "utils/walk.hpp"

namespace tv::seq {

PyObject* apply_key(PyObject* key, PyObject* item) { return KeyFn(key)(item); }

namespace {

// Walks the elements of `seq` with each one's resolved key: body(k, x) returns false with an
// exception set to stop. The key is borrowed for the call only; x holds the element, and
// the body may take it over.
template <class Body>
bool walk_keyed(KeyFn& keyfn, PyObject* seq, Body&& body) {
    Source src;
    if (!src.open(seq)) return false;
    return src.drain([&](PyObject* item) {
        // Half the source's own look-ahead: that record's header has arrived by then.
        keyfn.prefetch(src.upcoming(4));
        Ref x = steal(item);
        Ref own;
        PyObject* k = keyfn.resolve(item, own);
        return k && body(k, x);
    });
}

}  // namespace

PyObject* groupby_impl(PyObject* key, PyObject* seq) {
    KeyFn keyfn(key);
    KeyTable<Members> groups;
    bool ok = walk_keyed(keyfn, seq, [&](PyObject* k, Ref& x) {
        bool inserted;
        Members* members = groups.find_or_add(k, inserted);
        return members && members->add(std::move(x));
    });
    if (!ok) return ffi_err();
    return groups.to_dict([](Members& members) { return members.to_list(); });
}

PyObject* countby_impl(PyObject* key, PyObject* seq) {
    KeyFn keyfn(key);
    Tally tally(known_length(seq));
    bool ok = walk_keyed(keyfn, seq, [&](PyObject* k, Ref&) { return tally.add(k); });
    if (!ok) return ffi_err();
    return tally.result();
}

namespace {

// The fold of binop over the elements of each key. The accumulators live in the native
// index beside their keys (one probe per element instead of a dict lookup and a store) and
// move into the dict at the end; the result is the same dict, built once.
PyObject* reduceby_impl(PyObject* key, PyObject* binop, PyObject* seq, PyObject* init) {
    KeyFn keyfn(key);
    bool init_call = init && PyCallable_Check(init);
    KeyTable<Ref> folds;
    bool ok = walk_keyed(keyfn, seq, [&](PyObject* k, Ref& held) {
        PyObject* x = held.get();
        bool inserted;
        Ref* acc = folds.find_or_add(k, inserted);
        if (!acc) return false;
        if (!inserted) {
            // binop cannot reach the index, so `acc` stays where it is during the call.
            PyObject* v = direct_call(binop, acc->get(), x);
            if (!v) return false;
            acc->reset(v);
            return true;
        }
        if (!init) {
            acc->reset(Py_NewRef(x));
            return true;
        }
        Ref start = init_call ? steal(PyObject_CallNoArgs(init)) : borrow(init);
        if (!start) return false;
        acc->reset(direct_call(binop, start.get(), x));
        return bool(*acc);
    });
    if (!ok) return ffi_err();
    return folds.to_dict([](Ref& acc) { return acc.release(); });
}

}  // namespace

}  // namespace tv::seq

using namespace tv;

TV_FUNCTION(groupby, "groupby(key, seq)") { return seq::groupby_impl(a[0], a[1]); }

TV_FUNCTION(countby, "countby(key, seq)") { return seq::countby_impl(a[0], a[1]); }

TV_FUNCTION(reduceby, "reduceby(key, binop, seq, *rest)", tail_at_most(1)) {
    return seq::reduceby_impl(a[0], a[1], a[2], a.nrest ? a.rest[0] : nullptr);
}
