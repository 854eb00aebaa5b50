// Heap types: how every class of the module is created, cached and torn down.
#pragma once
#include "utils/errors.hpp"
#include "utils/once.hpp"

namespace tv {

// Where a type object lives: created on first need and kept for the life of the process.
// A creation that fails leaves the cell empty, so the next need tries again; a second
// thread that needs the type while it is being created waits for it (see OnceCell).
class TypeCell {
public:
    // The type (borrowed), or nullptr before it was created.
    PyTypeObject* get() const noexcept { return (PyTypeObject*)cell_.peek(); }
    // The type, created with `make()` (a new reference, or nullptr with an exception set)
    // when there is none yet; nullptr with an exception set when that fails.
    template <class Make>
    PyTypeObject* get_or_make(Make&& make) noexcept {
        if (PyTypeObject* t = get()) return t;
        return (PyTypeObject*)cell_.get([&]() noexcept { return (PyObject*)make(); });
    }

private:
    OnceCell cell_;
};

// The type in `cell`, created from `spec` on first need; `setup` finishes a fresh type (a
// vectorcall entry, class attributes) and returns false with an exception set to discard
// it. Borrowed; nullptr with an exception set when the type cannot be created.
template <class Setup>
PyTypeObject* type_once(TypeCell& cell, PyType_Spec& spec, Setup&& setup) noexcept {
    return cell.get_or_make([&]() -> PyObject* {
        Ref t = steal(PyType_FromSpec(&spec));
        if (!t || !setup((PyTypeObject*)t.get())) return ffi_err();
        return t.release();
    });
}

inline PyTypeObject* type_once(TypeCell& cell, PyType_Spec& spec) noexcept {
    return type_once(cell, spec, [](PyTypeObject*) { return true; });
}

// Subscripting a class (Iter[int], Some[str]) gives a generic alias, as for builtin classes.
inline constexpr PyMethodDef kClassGetItem = {
    "__class_getitem__", (PyCFunction)Py_GenericAlias, METH_O | METH_CLASS,
    "See PEP 585"};

// What a registration maker returns for a type: a new reference (nullptr passes on).
inline PyObject* type_maker_of(PyTypeObject* tp) noexcept {
    return tp ? Py_NewRef((PyObject*)tp) : nullptr;
}

// A type getter as a registration maker (TV_REGISTER).
template <PyTypeObject* (*Get)()>
PyObject* type_maker(PyObject*) {
    return type_maker_of(Get());
}

// The deallocator of a garbage-collected type whose instances drop what they hold with
// `release(self)`. Nested objects (iterators over iterators, callables around callables,
// values in values) are released through the trashcan, iteratively rather than on the C
// stack, so dropping a deep chain cannot exhaust it.
template <auto Release>
void gc_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Py_TRASHCAN_BEGIN(self, gc_dealloc<Release>)
    (void)Release(self);
    tp->tp_free(self);
    Py_DECREF(tp);
    Py_TRASHCAN_END
}

}  // namespace tv
