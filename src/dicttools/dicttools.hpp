// What every dictionary tool shares: how a result mapping is made and written, and how the
// items of an input mapping are read. No tool makes or fills a mapping any other way.
#pragma once
#include "utils/errors.hpp"
#include "utils/signals.hpp"

namespace tv::dict {

// The `factory` argument. None means "a new dict"; anything else is called with no
// arguments for every mapping the tool makes.
class Factory {
public:
    explicit Factory(PyObject* factory) noexcept : f_(factory == Py_None ? nullptr : factory) {}
    bool plain() const noexcept { return !f_; }
    // A new empty result (room for `hint` items when it is a new dict), or nullptr with an
    // exception set.
    PyObject* make(Py_ssize_t hint = 0) const noexcept;

private:
    PyObject* f_;
};

// target[key] = value: the dict's own store for an exact dict (whose item assignment cannot
// be overridden), generic item assignment for anything a factory returned.
inline int set_item(PyObject* target, PyObject* key, PyObject* value) noexcept {
    if (PyDict_CheckExact(target)) return PyDict_SetItem(target, key, value);
    return PyObject_SetItem(target, key, value);
}

// Reads the (key, value) items of a mapping in its iteration order. A mapping is read
// through its items() method, whose elements must be tuples of at least two; an exact dict
// (whose items() cannot be overridden) is read in place, with the same "changed size" and
// "keys changed" errors its own items iterator raises when a callback mutates it.
// Every few thousand items the reader lets pending signals run.
class Items {
public:
    // Returns false with an exception set (no items(), a failing items() or iter()).
    bool open(PyObject* mapping) noexcept;
    // 1 with the next item in k and v (new references), 0 at the end, -1 with an error.
    int next(Ref& k, Ref& v) noexcept;
    // The exact dict being read in place, else nullptr.
    PyObject* dict() const noexcept { return dict_.get(); }

private:
    Ref dict_, it_;
    Py_ssize_t pos_ = 0, used_ = 0, left_ = 0;
    SignalPoll poll_;
};

// Assigns every item of `source` to `target`, in order. On error what was copied stays in
// the target, which the caller then discards.
bool copy_into(PyObject* target, PyObject* source) noexcept;

// A new result holding the items of `mapping`: the factory's result filled by copy_into,
// or one bulk copy when both sides are plain dicts.
PyObject* copy_of(const Factory& f, PyObject* mapping) noexcept;

// Whether `o` counts as a mapping: it has an attribute named "keys". -1 with an error.
int has_keys(PyObject* o) noexcept;

}  // namespace tv::dict
