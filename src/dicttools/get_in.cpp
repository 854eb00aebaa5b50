// get_in: the value at the end of a key path through nested containers.
#include "utils/binder.hpp"
#include "utils/source.hpp"

using namespace tv;

namespace {

// The KeyError a dict raises for a missing key (a tuple key stays one argument).
void set_key_error(PyObject* key) noexcept {
    Ref exc = steal(PyObject_CallOneArg(PyExc_KeyError, key));
    if (exc) PyErr_SetObject(PyExc_KeyError, exc.get());
    else ffi_err();
}

// cur[key] into `child`. 1: found. 0: a lookup error, left pending only when `keep_error`.
// -1: any other error. An exact dict is asked without raising: it has no __missing__, so a
// miss is a miss, and most misses never need the KeyError at all.
[[gnu::always_inline]] inline int step(PyObject* cur, PyObject* key, bool keep_error, Ref& child) noexcept {
    if (PyDict_CheckExact(cur)) {
        PyObject* v;
        int found = PyDict_GetItemRef(cur, key, &v);
        if (found > 0) {
            child = steal(v);
            return 1;
        }
        if (found == 0) {
            if (keep_error) set_key_error(key);  // raised either way: the KeyError or a failure
            return 0;
        }
    } else {
        child = steal(PyObject_GetItem(cur, key));
        if (child) return 1;
        ffi_err();
    }
    // With `keep_error` the error is the call's outcome whatever it is.
    if (keep_error) return -1;
    return discard_lookup_error() ? 0 : -1;
}

}  // namespace

TV_FUNCTION(get_in, "get_in(keys, coll, default=None, no_default=False)",
            {"no_default", Conv::Bool}) {
    PyObject *keys = a[0], *deflt = a[2];
    bool no_default = a.flag(3);
    Ref cur = borrow(a[1]), child;
    // A miss returns the default, or leaves the lookup error raised.
    auto miss = [&](int r) { return r == 0 && !no_default ? Py_NewRef(deflt) : nullptr; };
    // A list is read by index, its size again after every lookup (which may run code that
    // changes it); the source's signal check stops an endless key iterator over a
    // self-containing mapping.
    Source src;
    if (!src.open(keys)) return nullptr;
    while (Ref key = steal(src.next())) {
        int r = step(cur.get(), key.get(), no_default, child);
        if (r <= 0) return miss(r);
        cur = std::move(child);
    }
    if (PyErr_Occurred()) return nullptr;
    return cur.release();
}
