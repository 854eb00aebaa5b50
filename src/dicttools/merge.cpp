// merge, merge_with: several mappings combined into one new mapping.
#include "dicttools/dicttools.hpp"
#include "utils/binder.hpp"
#include "utils/call.hpp"
#include "utils/int_table.hpp"
#include "utils/threading.hpp"

using namespace tv;
using tv::dict::Factory;

namespace {

// The mappings a call names: the variadic tail, or, when the tail is one object that is not
// itself a mapping, that object's elements.
class Mappings {
public:
    bool open(const Args& a) noexcept {
        items_ = a.rest;
        n_ = a.nrest;
        if (n_ != 1) return true;
        int mapping = dict::has_keys(a.rest[0]);
        if (mapping) return mapping > 0;
        // A private list: no callback can reach it, so its item array stays put.
        owner_ = steal(PySequence_List(a.rest[0]));
        if (!owner_) return ffi_err();
        items_ = ((PyListObject*)owner_.get())->ob_item;
        n_ = PyList_GET_SIZE(owner_.get());
        return true;
    }
    Py_ssize_t size() const noexcept { return n_; }
    PyObject* operator[](Py_ssize_t i) const noexcept { return items_[i]; }

private:
    PyObject* const* items_ = nullptr;
    Py_ssize_t n_ = 0;
    Ref owner_;
};

}  // namespace

TV_FUNCTION(merge, "merge(*dicts, factory=None)") {
    Factory f(a[0]);
    if (f.plain() && a.nrest > 0) {
        // Plain dicts only: the interpreter's bulk copy and update, no item-by-item writes.
        bool plain = true;
        for (Py_ssize_t i = 0; plain && i < a.nrest; ++i) plain = PyDict_CheckExact(a.rest[i]);
        if (plain) {
            Ref r = steal(PyDict_Copy(a.rest[0]));
            if (!r) return ffi_err();
            SignalPoll poll;
            for (Py_ssize_t i = 1; i < a.nrest; ++i)
                if (!poll.ok() || PyDict_Update(r.get(), a.rest[i]) < 0) return ffi_err();
            return r.release();
        }
    }
    Ref r = steal(f.make());
    Mappings ms;
    if (!r || !ms.open(a)) return nullptr;
    for (Py_ssize_t i = 0; i < ms.size(); ++i) {
        PyObject* m = ms[i];
        int mapping = dict::has_keys(m);
        if (mapping < 0) return nullptr;
        if (!mapping)
            return PyErr_Format(PyExc_TypeError, "'%s' object is not iterable",
                                Py_TYPE(m)->tp_name);
        if (!dict::copy_into(r.get(), m)) return nullptr;
    }
    return r.release();
}

TV_FUNCTION(merge_with, "merge_with(func, *dicts, factory=None)") {
    PyObject* func = a[0];
    Mappings ms;
    if (!ms.open(a)) return nullptr;
    // Each key's values in a list, keys in order of first appearance. Sized for the plain
    // dicts among the inputs at once: growing a large table step by step costs more than
    // the room a table of overlapping inputs leaves unused.
    Py_ssize_t most = 0;
    for (Py_ssize_t i = 0; i < ms.size(); ++i)
        if (PyDict_CheckExact(ms[i])) most += PyDict_GET_SIZE(ms[i]);
    Ref groups = steal(most > 8 ? _PyDict_NewPresized(most) : PyDict_New());
    if (!groups) return ffi_err();
    // Whether every key hashes the same every time (no user __hash__ is involved).
    bool stable_hashes = true;
    // A key met once keeps its value itself in the table. From its second value on the
    // values go into a list of our own, known by its address: a value of the caller's
    // cannot share one with a list alive in the table, even when it is a list.
    IntSet<uintptr_t> ours;
    for (Py_ssize_t i = 0; i < ms.size(); ++i) {
        dict::Items items;
        if (!items.open(ms[i])) return nullptr;
        Ref k, v;
        int st;
        while ((st = items.next(k, v)) > 0) {
            stable_hashes = stable_hashes && (PyUnicode_CheckExact(k.get()) ||
                                              PyLong_CheckExact(k.get()));
            Py_ssize_t before = PyDict_GET_SIZE(groups.get());
            PyObject* got = PyDict_SetDefault(groups.get(), k.get(), v.get());
            if (!got) return ffi_err();
            if (PyDict_GET_SIZE(groups.get()) != before) continue;  // a new key
            if (ours.contains((uintptr_t)got)) {
                if (PyList_Append(got, v.get()) < 0) return ffi_err();
                continue;
            }
            Ref both = steal(PyList_New(2));
            if (!both) return ffi_err();
            PyList_SET_ITEM(both.get(), 0, Py_NewRef(got));
            PyList_SET_ITEM(both.get(), 1, v.release());
            ours.insert((uintptr_t)both.get());
            if (PyDict_SetItem(groups.get(), k.get(), both.get()) < 0) return ffi_err();
        }
        if (st < 0) return nullptr;
    }
    // Only now, with every input read, is the result made. A new dict would get the
    // grouping table's keys in the table's order, so the table itself becomes the result,
    // each list replaced by its value in place: no second table is built. That needs keys
    // that find their own entry again (no user __hash__); the table is private, so no
    // callback can reach it.
    Factory f(a[1]);
    bool in_place = f.plain() && stable_hashes;
    Ref r = in_place ? groups.dup() : steal(f.make(PyDict_GET_SIZE(groups.get())));
    if (!r) return nullptr;
    Py_ssize_t pos = 0;
    PyObject *bk, *bv;
    SignalPoll poll;
    // A key's one value goes to func in a one-element list, the same list again for the
    // next such key as long as func kept no reference to it and left it as it was.
    Ref single;
    while (PyDict_Next(groups.get(), &pos, &bk, &bv)) {
        if (!poll.ok()) return nullptr;
        Ref k = borrow(bk), values;
        if (ours.contains((uintptr_t)bv)) {
            values = borrow(bv);
        } else {
            if (single && sole_owner(single.get()) && PyList_GET_SIZE(single.get()) == 1) {
                PyList_SetItem(single.get(), 0, Py_NewRef(bv));
            } else {
                single = steal(PyList_New(1));
                if (!single) return ffi_err();
                PyList_SET_ITEM(single.get(), 0, Py_NewRef(bv));
            }
            values = single.dup();
        }
        Ref value = steal(direct_call(func, values.get()));
        if (!value || dict::set_item(r.get(), k.get(), value.get()) < 0) return ffi_err();
    }
    return r.release();
}
