#include "dicttools/dicttools.hpp"

#include "utils/cached.hpp"
#include "utils/source.hpp"

namespace tv::dict {

namespace {

InternedStr ITEMS_NAME{"items"};
InternedStr KEYS_NAME{"keys"};

}  // namespace

PyObject* Factory::make(Py_ssize_t hint) const noexcept {
    PyObject* r;
    if (f_)
        r = PyObject_CallNoArgs(f_);
    else
        r = hint > 8 ? _PyDict_NewPresized(hint) : PyDict_New();
    return r ? r : ffi_err();
}

bool Items::open(PyObject* mapping) noexcept {
    if (PyDict_CheckExact(mapping)) {
        dict_ = borrow(mapping);
        pos_ = 0;
        used_ = left_ = PyDict_GET_SIZE(mapping);
        return true;
    }
    PyObject* name = interned(ITEMS_NAME);
    if (!name) return ffi_err();
    Ref view = steal(PyObject_CallMethodNoArgs(mapping, name));
    if (!view) return ffi_err();
    it_ = steal(PyObject_GetIter(view.get()));
    return it_ || ffi_err();
}

int Items::next(Ref& k, Ref& v) noexcept {
    if (!poll_.ok()) return -1;
    if (PyObject* d = dict_.get()) {
        // The checks of the dict's own items iterator, in its order, so that a callback
        // that mutates the dict sees the same error either way. Entries are taken as new
        // references at once: the callback that follows may drop the dict's own.
        if (PyDict_GET_SIZE(d) != used_) {
            used_ = -1;  // stays broken, as the interpreter's iterator does
            PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
            return -1;
        }
        // One step under the dict's lock, the entry taken before it is released: another
        // thread's write lands between steps, where the checks above see it.
        PyObject *bk = nullptr, *bv = nullptr;
        int found;
        Py_BEGIN_CRITICAL_SECTION(d);
        found = PyDict_Next(d, &pos_, &bk, &bv);
        if (found) {
            k = borrow(bk);
            v = borrow(bv);
        }
        Py_END_CRITICAL_SECTION();
        if (!found) {
            dict_.reset();
            return 0;
        }
        if (left_ == 0) {
            PyErr_SetString(PyExc_RuntimeError, "dictionary keys changed during iteration");
            return -1;
        }
        --left_;
        return 1;
    }
    if (!it_) return 0;
    Ref item = steal(iter_next(it_.get()));
    if (!item) return PyErr_Occurred() ? -1 : 0;
    PyObject* t = item.get();
    if (!PyTuple_Check(t)) {
        not_an_instance(t, "tuple");
        return -1;
    }
    if (PyTuple_GET_SIZE(t) >= 2) {
        k = borrow(PyTuple_GET_ITEM(t, 0));
        v = borrow(PyTuple_GET_ITEM(t, 1));
        return 1;
    }
    // A short tuple fails with the interpreter's own IndexError.
    k = steal(PySequence_GetItem(t, 0));
    if (!k) return -1;
    v = steal(PySequence_GetItem(t, 1));
    return v ? 1 : -1;
}

bool copy_into(PyObject* target, PyObject* source) noexcept {
    if (PyDict_CheckExact(target) && PyDict_CheckExact(source))
        return PyDict_Update(target, source) == 0 || ffi_err();
    Items items;
    if (!items.open(source)) return false;
    Ref k, v;
    int r;
    while ((r = items.next(k, v)) > 0)
        if (set_item(target, k.get(), v.get()) < 0) return ffi_err();
    return r == 0;
}

PyObject* copy_of(const Factory& f, PyObject* mapping) noexcept {
    if (f.plain() && PyDict_CheckExact(mapping)) {
        PyObject* r = PyDict_Copy(mapping);
        return r ? r : ffi_err();
    }
    Ref r = steal(f.make());
    if (!r || !copy_into(r.get(), mapping)) return nullptr;
    return r.release();
}

int has_keys(PyObject* o) noexcept {
    if (PyDict_CheckExact(o)) return 1;
    PyObject* name = interned(KEYS_NAME);
    if (!name) return ffi_err(), -1;
    int r = PyObject_HasAttrWithError(o, name);
    if (r < 0) ffi_err();
    return r;
}

}  // namespace tv::dict
