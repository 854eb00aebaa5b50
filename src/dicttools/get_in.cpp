// get_in: the value at the end of a key path through nested containers.
#include "utils/binder.hpp"
#include "utils/source.hpp"

using namespace tv;

TV_FUNCTION(get_in, "get_in(keys, coll, default=None, no_default=False)",
            {"no_default", Conv::Bool}) {
    PyObject *keys = a[0], *deflt = a[2];
    bool no_default = a.flag(3);
    Ref it = steal(PyObject_GetIter(keys));
    if (!it) return nullptr;
    Ref cur = borrow(a[1]);
    while (Ref key = steal(iter_next(it.get()))) {
        PyObject* child = PyObject_GetItem(cur.get(), key.get());
        if (!child) {
            if (no_default || !is_lookup_error()) return ffi_err();
            PyErr_Clear();
            return Py_NewRef(deflt);
        }
        cur.reset(child);
    }
    if (PyErr_Occurred()) return nullptr;
    return cur.release();
}
