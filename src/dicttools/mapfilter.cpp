// keymap, valmap, itemmap, keyfilter, valfilter, itemfilter: a mapping rebuilt item by item.
// One loop; the tools differ only in the body run for each item.
#include "dicttools/dicttools.hpp"
#include "utils/binder.hpp"
#include "utils/call.hpp"
#include "utils/source.hpp"

using namespace tv;

namespace {

enum class Body { KeyMap, ValMap, ItemMap, KeyFilter, ValFilter, ItemFilter };

bool raise_pair_length_error(const char* relation) noexcept {
    PyErr_Format(PyExc_ValueError,
                        "dictionary update sequence element has length %s 2; 2 is required",
                        relation);
    return false;
}

// Splits what itemmap's function returned into a key and a value: any iterable of exactly
// two elements.
bool unpack_pair(PyObject* r, Ref& k, Ref& v) noexcept {
    if (PyTuple_CheckExact(r) && PyTuple_GET_SIZE(r) == 2) {
        k = borrow(PyTuple_GET_ITEM(r, 0));
        v = borrow(PyTuple_GET_ITEM(r, 1));
        return true;
    }
    Ref it = steal(PyObject_GetIter(r));
    if (!it) return ffi_err();
    for (Ref* slot : {&k, &v}) {
        *slot = steal(iter_next(it.get()));
        if (!*slot) return PyErr_Occurred() ? false : raise_pair_length_error("<");
    }
    Ref extra = steal(iter_next(it.get()));
    if (extra) return raise_pair_length_error(">");
    return !PyErr_Occurred();
}

template <Body B>
PyObject* rebuild_items(PyObject* func, PyObject* d, PyObject* factory) {
    constexpr bool maps = B == Body::KeyMap || B == Body::ValMap || B == Body::ItemMap;
    // A map keeps every item, so a new dict gets its final size at once; a filter's share
    // is unknown and its dict grows as it goes.
    Py_ssize_t hint = maps && PyDict_CheckExact(d) ? PyDict_GET_SIZE(d) : 0;
    Ref r = steal(dict::Factory(factory).make(hint));
    if (!r) return nullptr;
    dict::Items items;
    if (!items.open(d)) return nullptr;
    PyObject* out = r.get();
    Ref k, v;
    int st;
    while ((st = items.next(k, v)) > 0) {
        if constexpr (B == Body::KeyMap) {
            Ref nk = steal(direct_call(func, k.get()));
            if (!nk || dict::set_item(out, nk.get(), v.get()) < 0) return ffi_err();
        } else if constexpr (B == Body::ValMap) {
            Ref nv = steal(direct_call(func, v.get()));
            if (!nv || dict::set_item(out, k.get(), nv.get()) < 0) return ffi_err();
        } else {
            Ref pair;
            if constexpr (B == Body::ItemMap || B == Body::ItemFilter) {
                pair = steal(PyTuple_Pack(2, k.get(), v.get()));
                if (!pair) return ffi_err();
            }
            PyObject* arg = B == Body::KeyFilter ? k.get() : B == Body::ValFilter ? v.get()
                                                                                  : pair.get();
            Ref res = steal(direct_call(func, arg));
            if (!res) return nullptr;
            if constexpr (B == Body::ItemMap) {
                Ref nk, nv;
                if (!unpack_pair(res.get(), nk, nv) ||
                    dict::set_item(out, nk.get(), nv.get()) < 0)
                    return ffi_err();
            } else {
                int keep = PyObject_IsTrue(res.get());
                if (keep < 0 || (keep && dict::set_item(out, k.get(), v.get()) < 0))
                    return ffi_err();
            }
        }
    }
    return st == 0 ? r.release() : nullptr;
}

}  // namespace

TV_FUNCTION(keymap, "keymap(func, d, factory=None)") {
    return rebuild_items<Body::KeyMap>(a[0], a[1], a[2]);
}
TV_FUNCTION(valmap, "valmap(func, d, factory=None)") {
    return rebuild_items<Body::ValMap>(a[0], a[1], a[2]);
}
TV_FUNCTION(itemmap, "itemmap(func, d, factory=None)") {
    return rebuild_items<Body::ItemMap>(a[0], a[1], a[2]);
}
TV_FUNCTION(keyfilter, "keyfilter(predicate, d, factory=None)") {
    return rebuild_items<Body::KeyFilter>(a[0], a[1], a[2]);
}
TV_FUNCTION(valfilter, "valfilter(predicate, d, factory=None)") {
    return rebuild_items<Body::ValFilter>(a[0], a[1], a[2]);
}
TV_FUNCTION(itemfilter, "itemfilter(predicate, d, factory=None)") {
    return rebuild_items<Body::ItemFilter>(a[0], a[1], a[2]);
}
