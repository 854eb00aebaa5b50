// Element sources. An exact list is read live by index (appends made while reading are
// seen; once the end was reached the source stays exhausted); anything else is read
// through its iterator, which is asked again after its end.
#pragma once
#include "utils/errors.hpp"
#include "utils/signals.hpp"

namespace tv {

// After an iterator's step returned nullptr: true when that was its end (nothing pending,
// or a StopIteration raised explicitly, which is cleared), false for an error (left
// pending).
inline bool reached_end() noexcept {
    if (!PyErr_Occurred()) return true;
    if (!PyErr_ExceptionMatches(PyExc_StopIteration)) return false;
    PyErr_Clear();
    return true;
}

// One step through an iterator's own `next` slot: a new reference, or nullptr for the end
// (no exception) or an error (exception set).
inline PyObject* step_with(iternextfunc next, PyObject* it) noexcept {
    PyObject* r = next(it);
    if (!r) reached_end();
    return r;
}

inline PyObject* iter_next(PyObject* it) noexcept { return step_with(Py_TYPE(it)->tp_iternext, it); }

// PEP 424 hint of an iterator, 0 when it has none or fails with an ordinary error; -1
// with the exception set for one that must propagate (an interrupt, an exit request).
inline Py_ssize_t hint_or_zero(PyObject* it) noexcept {
    Py_ssize_t n = PyObject_LengthHint(it, 0);
    if (n < 0) return discard_ordinary_error() ? 0 : -1;
    return n;
}

// Whether pulling from `it` may pull from further iterators in turn. Lazy results stack
// (remove(p, remove(p, ...))) and each level's step calls the next level's step on the C
// stack, so such pulls pass through the interpreter's recursion guard: a deep chain
// raises RecursionError instead of overflowing. The built-in containers' iterators read
// memory only, and a generator's frame takes the guard itself, so those pull directly.
inline bool pulls_nested(PyObject* it) noexcept {
    PyTypeObject* tp = Py_TYPE(it);
    return !(tp == &PyListIter_Type || tp == &PyTupleIter_Type || tp == &PyRangeIter_Type ||
             tp == &PyLongRangeIter_Type || tp == &PyGen_Type || tp == &PyDictIterKey_Type ||
             tp == &PyDictIterValue_Type || tp == &PyDictIterItem_Type ||
             tp == &PySetIter_Type || tp == &PyUnicodeIter_Type || tp == &PyBytesIter_Type ||
             tp == &PyByteArrayIter_Type);
}

// One step of `it` (through `next`, its tp_iternext) as iter_next gives it; with `nested`
// it runs as one level of the interpreter's C recursion limit.
inline PyObject* pull(PyObject* it, iternextfunc next, bool nested) noexcept {
    if (!nested) [[likely]]
        return step_with(next, it);
    if (Py_EnterRecursiveCall(" while reading a nested iterator")) return nullptr;
    PyObject* r = step_with(next, it);
    Py_LeaveRecursiveCall();
    return r;
}

class PySource {
public:
    PySource() = default;
    // Returns false with the error of iter(obj) set.
    bool open(PyObject* obj) noexcept {
        if (PyList_CheckExact(obj)) {
            obj_ = borrow(obj);
            list_ = true;
            return true;
        }
        obj_ = steal(PyObject_GetIter(obj));
        if (!obj_) return false;
        nested_ = pulls_nested(obj_.get());
        return true;
    }
    bool is_list() const { return list_; }
    PyObject* object() const { return obj_.get(); }

    // New reference, or nullptr for end (no exception) / error (exception set).
    PyObject* next() noexcept {
        if (list_) {
            if (exhausted_) return nullptr;
            PyObject* l = obj_.get();
            if ((Py_ssize_t)index_ >= PyList_GET_SIZE(l)) {
                exhausted_ = true;
                return nullptr;
            }
            return Py_NewRef(PyList_GET_ITEM(l, index_++));
        }
        return obj_ ? pull(obj_.get(), Py_TYPE(obj_.get())->tp_iternext, nested_) : nullptr;
    }
    // List form only: up to `max` elements in one go (new references written to `out`),
    // exactly as that many next() calls would give them; returns how many were taken.
    size_t take_list(PyObject** out, size_t max) noexcept {
        if (exhausted_) return 0;
        PyObject* l = obj_.get();
        Py_ssize_t avail = PyList_GET_SIZE(l) - (Py_ssize_t)index_;
        size_t k = max;
        if (avail <= 0 || (size_t)avail < max) {
            exhausted_ = true;
            k = avail > 0 ? (size_t)avail : 0;
        }
        PyObject** items = ((PyListObject*)l)->ob_item + index_;
        for (size_t i = 0; i < k; ++i) out[i] = Py_NewRef(items[i]);
        index_ += k;
        return k;
    }
    // Remaining elements: exact for lists, the iterator's own hint otherwise; -1 with an
    // exception set when asking the iterator raised one that must propagate.
    Py_ssize_t remaining() const noexcept {
        if (list_) {
            if (exhausted_) return 0;
            Py_ssize_t n = PyList_GET_SIZE(obj_.get()) - (Py_ssize_t)index_;
            return n > 0 ? n : 0;
        }
        return obj_ ? hint_or_zero(obj_.get()) : 0;
    }
    int traverse(visitproc visit, void* arg) const {
        Py_VISIT(obj_.get());
        return 0;
    }
    void clear() { obj_.reset(); exhausted_ = true; }
    bool valid() const { return bool(obj_); }

private:
    Ref obj_;
    size_t index_ = 0;
    bool list_ = false;
    bool exhausted_ = false;
    bool nested_ = false;
};

}  // namespace tv

namespace tv {

// An iterator whose tp_iternext is read once, for the hot loops of steps that call it per
// element. The slot of an iterator's type cannot be lost while the iterator lives (a type
// that changes __next__ keeps a slot that looks the method up), so the cached function
// stays valid for the life of the source.
class IterSource {
public:
    // Returns false with the error of iter(obj) set.
    bool open(PyObject* obj) noexcept {
        it_ = steal(PyObject_GetIter(obj));
        if (!it_) return false;
        next_ = Py_TYPE(it_.get())->tp_iternext;
        nested_ = pulls_nested(it_.get());
        return true;
    }
    // New reference, or nullptr for end (no exception) / error (exception set).
    PyObject* next() noexcept { return it_ ? pull(it_.get(), next_, nested_) : nullptr; }
    PyObject* object() const { return it_.get(); }
    int traverse(visitproc visit, void* arg) const {
        Py_VISIT(it_.get());
        return 0;
    }

private:
    Ref it_;
    iternextfunc next_ = nullptr;
    bool nested_ = false;
};

}  // namespace tv
