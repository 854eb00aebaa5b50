// merge, merge_with: several mappings combined into one new mapping.
#include "dicttools/dicttools.hpp"
#include "utils/binder.hpp"
#include "utils/call.hpp"
#include "utils/heap_type.hpp"
#include "utils/members.hpp"
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

// The values of a key met more than once, while the inputs are read. The type is private
// and cannot be instantiated, so no value of the caller's is ever taken for one: telling
// them apart is one look at the stored value's type.
struct ValuesObject {
    PyObject_HEAD
    Members values;
};

TypeCell g_values;

void values_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    ((ValuesObject*)self)->values.~Members();
    PyObject_Free(self);
    Py_DECREF(tp);
}

PyTypeObject* values_type() noexcept {
    static PyType_Slot slots[] = {{Py_tp_dealloc, (void*)values_dealloc}, {0, nullptr}};
    static PyType_Spec spec = {
        "tarvel._tarvel.merge_with_values", sizeof(ValuesObject), 0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots,
    };
    return type_once(g_values, spec);
}

// A new ValuesObject holding `first` (borrowed) and then `second` (taken over).
Ref values_of(PyTypeObject* tp, PyObject* first, Ref second) noexcept {
    auto* o = PyObject_New(ValuesObject, tp);
    if (!o) return Ref();
    new (&o->values) Members();
    Ref r = steal((PyObject*)o);
    if (!o->values.add(borrow(first)) || !o->values.add(std::move(second))) return Ref();
    return r;
}

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
    // Each key's values, keys in order of first appearance. Sized for the plain
    // dicts among the inputs at once: growing a large table step by step costs more than
    // the room a table of overlapping inputs leaves unused.
    Py_ssize_t most = 0;
    for (Py_ssize_t i = 0; i < ms.size(); ++i)
        if (PyDict_CheckExact(ms[i])) most += PyDict_GET_SIZE(ms[i]);
    Ref groups = steal(most > 8 ? _PyDict_NewPresized(most) : PyDict_New());
    if (!groups) return ffi_err();
    // Whether every key hashes the same every time (no user __hash__ is involved).
    bool stable_hashes = true;
    // A key met once keeps its value itself in the table; from its second value on, the
    // values are gathered in a ValuesObject stored in its place.
    PyTypeObject* values_tp = values_type();
    if (!values_tp) return nullptr;
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
            if (Py_TYPE(got) == values_tp) {
                if (!((ValuesObject*)got)->values.add(std::move(v))) return nullptr;
                continue;
            }
            Ref all = values_of(values_tp, got, std::move(v));
            if (!all || PyDict_SetItem(groups.get(), k.get(), all.get()) < 0) return ffi_err();
        }
        if (st < 0) return nullptr;
    }
    // Only now, with every input read, is the result made. A new dict would get the
    // grouping table's keys in the table's order, so the table itself becomes the result,
    // each key's values replaced by func's answer in place: no second table is built. That
    // needs keys that find their own entry again (no user __hash__); the table is private,
    // so no callback can reach it.
    Factory f(a[1]);
    bool in_place = f.plain() && stable_hashes;
    Ref r = in_place ? groups.dup() : steal(f.make(PyDict_GET_SIZE(groups.get())));
    if (!r) return nullptr;
    Py_ssize_t pos = 0;
    PyObject *bk, *bv;
    SignalPoll poll;
    // func gets each key's values in a list: the same list again for the next key as long
    // as func kept no reference to it.
    Ref list;
    while (PyDict_Next(groups.get(), &pos, &bk, &bv)) {
        if (!poll.ok()) return nullptr;
        Ref k = borrow(bk), held = borrow(bv);
        bool many = Py_TYPE(bv) == values_tp;
        PyObject* const* vs = many ? ((ValuesObject*)bv)->values.data() : &bv;
        size_t n = many ? ((ValuesObject*)bv)->values.size() : 1;
        if (list && sole_owner(list.get())) {
            if (!refill_list(list.get(), vs, n)) return ffi_err();
        } else {
            list = steal(list_of_items(vs, n));
            if (!list) return ffi_err();
        }
        Ref value = steal(direct_call(func, list.get()));
        if (!value || dict::set_item(r.get(), k.get(), value.get()) < 0) return ffi_err();
    }
    return r.release();
}
