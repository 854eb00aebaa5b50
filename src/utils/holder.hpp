// Objects that hold one reference fixed for their whole life (the option values, Iter):
// creation through a free list of released objects of the exact type, and a release that
// runs iteratively for long chains (Some(Some(...)), Iter(Iter(...))). Each family
// instantiates HolderOps for its own object struct, so it has its own free list and its
// own deallocator: what one family changes in its layout or its release cannot reach
// another.
//
//   struct IterObject { PyObject_HEAD Ref inner; };
//   using Ops = HolderOps<IterObject, &IterObject::inner>;
//   slots: {Py_tp_dealloc, (void*)Ops::dealloc}, {Py_tp_traverse, (void*)Ops::traverse}
#pragma once
#include "utils/binder.hpp"

#include <new>
#include <utility>

namespace tv {

// A few released objects of one exact type, kept for reuse (the interpreter lock guards it).
// Without the lock it keeps nothing: the interpreter's own allocator is per thread already.
template <class T, int N>
class FreeList {
public:
    // A recycled object initialised as a new instance of `tp`, or nullptr when none is kept.
    T* pop(PyTypeObject* tp) {
        if (TV_FREE_THREADED || !n_) return nullptr;
        T* o = items_[--n_];
        PyObject_Init((PyObject*)o, tp);
        return o;
    }
    // Keeps a dead object (refcount 0, untracked, fields released); false when full.
    bool push(T* o) {
        if (TV_FREE_THREADED || n_ == N) return false;
        items_[n_++] = o;
        return true;
    }

private:
    T* items_[N];
    int n_ = 0;
};

template <class T, Ref T::*Field, int N = 64>
struct HolderOps {
    static PyObject* held(PyObject* self) { return (((T*)self)->*Field).get(); }

    // A new instance of `tp` (the family's type or a subclass) holding `v`; an empty `v` is
    // a failure already reported by its producer.
    static PyObject* create(PyTypeObject* tp, Ref v) noexcept {
        if (!v || !tp) return ffi_err();
        if (tp->tp_dealloc == dealloc) {
            // The exact type; subclasses (with their dictionaries) take the generic path.
            T* self = free_.pop(tp);
            if (!self) self = PyObject_GC_New(T, tp);
            if (!self) return nullptr;
            new (&(self->*Field)) Ref(std::move(v));
            PyObject_GC_Track(self);
            return (PyObject*)self;
        }
        PyObject* self = tp->tp_alloc(tp, 0);
        if (!self) return nullptr;
        new (&(((T*)self)->*Field)) Ref(std::move(v));
        return self;
    }

    static void dealloc(PyObject* self) {
        PyObject_GC_UnTrack(self);
        PyObject* p = held(self);
        // Without the lock the count may drop meanwhile: always bound the recursion there.
        if ((!TV_FREE_THREADED && Py_REFCNT(p) > 1) || !PyObject_IS_GC(p)) {
            // The held object outlives this release, or nothing is nested below it (an
            // int, a str): no recursion to bound.
            release(self);
            return;
        }
        Py_TRASHCAN_BEGIN(self, dealloc)
        release(self);
        Py_TRASHCAN_END
    }

    // No tp_clear, deliberately: the held object never changes, so a holder cannot close a
    // cycle on its own; every cycle through one also runs through a mutable container,
    // whose clear breaks it. No method ever meets an emptied holder (as with tuples).
    static int traverse(PyObject* self, visitproc visit, void* arg) {
        Py_VISIT(Py_TYPE(self));
        Py_VISIT(held(self));
        return 0;
    }

    // The constructors of a holder type whose parameter list is `S` (one parameter): calls
    // of the exact type (vectorcall) and of subclasses (tp_new).
    template <const Sig& S>
    static PyObject* vectorcall(PyObject* type, PyObject* const* args, size_t nargsf,
                                PyObject* kwnames) {
        Args a;
        if (!S.bind(a, nullptr, args, PyVectorcall_NARGS(nargsf), kwnames)) return nullptr;
        return create((PyTypeObject*)type, borrow(a[0]));
    }
    template <const Sig& S>
    static PyObject* tp_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
        Args a;
        if (!S.bind_tuple(a, nullptr, args, kwargs)) return nullptr;
        return create(tp, borrow(a[0]));
    }

private:
    static void release(PyObject* self) {
        PyTypeObject* tp = Py_TYPE(self);
        (((T*)self)->*Field).reset();
        if (tp->tp_dealloc != dealloc || !free_.push((T*)self)) tp->tp_free(self);
        Py_DECREF(tp);
    }

    // Values are created and dropped at a high rate in method chains (each step makes a
    // new one), so the exact type keeps a few released objects for reuse instead of going
    // back to the allocator and the collector's bookkeeping every time.
    static inline FreeList<T, N> free_;
};

}  // namespace tv
