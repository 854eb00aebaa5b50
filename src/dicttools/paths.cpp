// assoc, dissoc, assoc_in, update_in: new mappings with one key, or one nested path, changed.
#include "dicttools/dicttools.hpp"
#include "utils/binder.hpp"
#include "utils/call.hpp"
#include "utils/refvec.hpp"
#include "utils/source.hpp"

using namespace tv;
using tv::dict::Factory;

TV_FUNCTION(assoc, "assoc(d, key, value, factory=None)") {
    Ref r = steal(dict::copy_of(Factory(a[3]), a[0]));
    if (!r || dict::set_item(r.get(), a[1], a[2]) < 0) return ffi_err();
    return r.release();
}

TV_FUNCTION(dissoc, "dissoc(d, *keys, factory=None)") {
    Ref r = steal(dict::copy_of(Factory(a[1]), a[0]));
    if (!r) return nullptr;
    PyObject* m = r.get();
    bool plain = PyDict_CheckExact(m);
    SignalPoll poll;
    for (Py_ssize_t i = 0; i < a.nrest; ++i) {
        if (!poll.ok()) return nullptr;
        PyObject* key = a.rest[i];
        int found = plain ? PyDict_Contains(m, key) : PySequence_Contains(m, key);
        if (found < 0) return ffi_err();
        if (found && (plain ? PyDict_DelItem(m, key) : PyObject_DelItem(m, key)) < 0)
            return ffi_err();
    }
    return r.release();
}

namespace {

// The nested rebuild shared by assoc_in and update_in: one new mapping per level on the
// path (levels off the path are shared), the leaf's value from `leaf(old)` where old is
// nullptr when the path does not exist. Written as a loop down and a loop back up, so a
// long path cannot exhaust the native stack.
template <class Leaf>
PyObject* rebuild(PyObject* d, PyObject* keys, const Factory& f, Leaf&& leaf) {
    // The whole path is read first, into a private copy that no callback can change.
    SmallRefVec<8> path, levels;
    Source src;
    if (!src.open(keys)) return ffi_err();
    while (PyObject* key = src.next()) path.push(key);
    if (PyErr_Occurred()) return nullptr;
    SignalPoll poll;
    Py_ssize_t n = (Py_ssize_t)path.size();
    if (n == 0) return stop_iteration();
    Ref cur = borrow(d), child;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!poll.ok()) return nullptr;
        PyObject* key = path[(size_t)i];
        PyObject* m = cur.get();
        Ref level;
        child.reset();
        int mapping = 1;
        if (f.plain() && PyDict_CheckExact(m)) {
            level = steal(dict::copy_of(f, m));
            if (!level) return nullptr;
        } else {
            // The factory runs before the mapping test, as the rule for results has it.
            level = steal(f.make());
            if (!level || (mapping = dict::has_keys(m)) < 0) return nullptr;
            if (mapping && !dict::copy_into(level.get(), m)) return nullptr;
        }
        // Not a mapping: the level is replaced by the new one and its contents are not
        // kept. Otherwise only a missing key counts as absent (an exact dict has no
        // __missing__, so it is asked without raising).
        if (mapping && PyDict_CheckExact(m)) {
            PyObject* v;
            if (PyDict_GetItemRef(m, key, &v) < 0) return nullptr;
            child = steal(v);
        } else if (mapping) {
            child = steal(PyObject_GetItem(m, key));
            if (!child) {
                if (!discard_matching(PyExc_KeyError)) return ffi_err();
            }
        }
        levels.push(level.release());
        if (i + 1 < n) {
            if (child) cur = std::move(child);
            else if (!(cur = steal(f.make()))) return nullptr;
        }
    }
    Ref value = steal(leaf(child.get()));
    if (!value) return nullptr;
    for (Py_ssize_t i = n - 1; i >= 0; --i) {
        if (dict::set_item(levels[(size_t)i], path[(size_t)i], value.get()) < 0)
            return ffi_err();
        value = borrow(levels[(size_t)i]);
    }
    return value.release();
}

}  // namespace

TV_FUNCTION(assoc_in, "assoc_in(d, keys, value, factory=None)") {
    PyObject* value = a[2];
    return rebuild(a[0], a[1], Factory(a[3]), [value](PyObject*) { return Py_NewRef(value); });
}

TV_FUNCTION(update_in, "update_in(d, keys, func, default=None, factory=None)") {
    PyObject *func = a[2], *deflt = a[3];
    return rebuild(a[0], a[1], Factory(a[4]),
                   [func, deflt](PyObject* old) { return direct_call(func, old ? old : deflt); });
}
