// Native iterators. Two families stand on the same raw tp_iternext slot and busy flag:
// NativeIter, which drives a Step object (one per lazy result that has no type of its own),
// and the dedicated iterator types, each declared as a State with a next() function:
//
//   struct InterposeState {
//       static constexpr const char* kName = "InterposeIter";
//       static constexpr const char* kDoc = "...";       // class docstring
//       static constexpr const char* kHintDoc = "...";   // __length_hint__ docstring
//       PyObject* next();                 // new ref | nullptr (end) | nullptr + exception
//       Py_ssize_t hint();                // >= 0, or -1 with an exception set
//       int traverse(visitproc, void*);   // the Python objects it holds
//       void clear();                     // drop them (cyclic GC)
//   };
//   TV_REGISTER("#InterposeIter", DedicatedIter<InterposeState>::make_type);
//   ... DedicatedIter<InterposeState>::create(ctor args...) ...
//
// A value that steps read but never change may live outside the guarded state: the State
// names its type `Fixed` (with traverse and clear), takes it in next(const Fixed&), and is
// created by create_with(fixed, ctor args...).
//
// Python code run during a step (a key, __eq__, a source iterator) that re-enters the same
// iterator gets ValueError "iterator already executing".
#pragma once
#include "utils/errors.hpp"
#include "utils/heap_type.hpp"

#include <exception>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

namespace tv {

PyObject* busy_error() noexcept;

// The reentrancy guard of one iterator: 0 free, -1 while a step or a length query runs.
class BusyScope {
public:
    explicit BusyScope(Py_ssize_t& flag) noexcept : flag_(flag), ok_(flag == 0) {
        if (ok_) flag_ = -1;
        else busy_error();
    }
    ~BusyScope() {
        if (ok_) flag_ += 1;
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    Py_ssize_t& flag_;
    bool ok_;
};

// Runs one step with anything thrown turned into PanicException/MemoryError.
template <class F>
inline PyObject* run_step(F&& f) noexcept {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        return panic(e.what());
    } catch (...) {
        return panic("panic in __next__");
    }
}

// The per-result state of a NativeIter.
class Step {
public:
    virtual ~Step() = default;
    // A new reference, nullptr for the end (no exception), or nullptr with an exception.
    virtual PyObject* step() = 0;
    // Visits the Python objects it holds, for cyclic garbage collection.
    virtual int traverse(visitproc, void*) { return 0; }
};

// Wraps a step object (taking ownership, also on failure) into a new NativeIter.
PyObject* native_iter_new(Step* step) noexcept;

template <class S, class... A>
PyObject* make_native_iter(A&&... args) noexcept {
    S* s = new (std::nothrow) S(std::forward<A>(args)...);
    if (!s) return PyErr_NoMemory();
    return native_iter_new(s);
}

// A NativeIter whose every step ends the iteration.
PyObject* empty_iter() noexcept;

// What a State may keep outside the guarded part (a value that never changes while the
// iterator lives): its `Fixed` type, given to every next(). States without one get this.
struct NoFixed {
    int traverse(visitproc, void*) const { return 0; }
    void clear() {}
};

template <class S, class = void>
struct FixedOf {
    using type = NoFixed;
};
template <class S>
struct FixedOf<S, std::void_t<typename S::Fixed>> {
    using type = typename S::Fixed;
};

template <class State>
class DedicatedIter {
public:
    using Fixed = typename FixedOf<State>::type;
    static constexpr bool kHasFixed = !std::is_same_v<Fixed, NoFixed>;

    struct Object {
        PyObject_HEAD
        [[no_unique_address]] Fixed fixed;  // read by steps, never changed by them
        Py_ssize_t busy;
        State st;
    };

    // The type object (borrowed; created on first need), nullptr with an exception set.
    static PyTypeObject* type() noexcept {
        static PyMethodDef methods[] = {
            {"__length_hint__", (PyCFunction)length_hint, METH_NOARGS, State::kHintDoc},
            {nullptr, nullptr, 0, nullptr},
        };
        static PyType_Slot slots[] = {
            {Py_tp_doc, (void*)State::kDoc},
            {Py_tp_dealloc, (void*)gc_dealloc<destroy>},
            {Py_tp_traverse, (void*)traverse},
            {Py_tp_clear, (void*)clear},
            {Py_tp_iter, (void*)PyObject_SelfIter},
            {Py_tp_iternext, (void*)iternext},
            {Py_tp_methods, methods},
            {0, nullptr},
        };
        static std::string name = std::string("tarvel._tarvel.") + State::kName;
        static PyType_Spec spec = {
            name.c_str(), sizeof(Object), 0,
            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE |
                Py_TPFLAGS_DISALLOW_INSTANTIATION,
            slots,
        };
        return type_once(type_, spec);
    }
    // For TV_REGISTER.
    static PyObject* make_type(PyObject* = nullptr) { return type_maker<type>(nullptr); }

    // A new iterator whose state is built from `args`; a new reference.
    template <class... A>
    static PyObject* create(A&&... args) noexcept {
        return create_with(Fixed{}, std::forward<A>(args)...);
    }

    // The same for a State with a Fixed part.
    template <class... A>
    static PyObject* create_with(Fixed fixed, A&&... args) noexcept {
        PyTypeObject* tp = type();
        if (!tp) return nullptr;
        PyObject* self = tp->tp_alloc(tp, 0);
        if (!self) return nullptr;
        // The collector must not look at the state before it is built.
        PyObject_GC_UnTrack(self);
        Object* o = (Object*)self;
        o->busy = 0;
        bool built = guard<bool>(false, [&] {
            new (&o->st) State(std::forward<A>(args)...);
            return true;
        });
        if (built) new (&o->fixed) Fixed(std::move(fixed));
        if (!built) {
            tp->tp_free(self);
            Py_DECREF(tp);
            return nullptr;
        }
        PyObject_GC_Track(self);
        return self;
    }

    static State& state(PyObject* self) { return ((Object*)self)->st; }

private:
    static PyObject* iternext(PyObject* self) {
        Object* o = (Object*)self;
        BusyScope busy(o->busy);
        if (!busy.ok()) return nullptr;
        return run_step([&] {
            if constexpr (kHasFixed) return o->st.next(o->fixed);
            else return o->st.next();
        });
    }
    static PyObject* length_hint(PyObject* self, PyObject*) {
        Object* o = (Object*)self;
        BusyScope busy(o->busy);
        if (!busy.ok()) return nullptr;
        return guard<PyObject*>(nullptr, [&]() -> PyObject* {
            Py_ssize_t n = o->st.hint();
            return n < 0 ? ffi_err() : PyLong_FromSsize_t(n);
        });
    }
    static void destroy(PyObject* self) {
        ((Object*)self)->st.~State();
        ((Object*)self)->fixed.~Fixed();
    }
    static int traverse(PyObject* self, visitproc visit, void* arg) {
        Py_VISIT(Py_TYPE(self));
        Object* o = (Object*)self;
        if (int r = o->fixed.traverse(visit, arg)) return r;
        return o->st.traverse(visit, arg);
    }
    static int clear(PyObject* self) {
        // The state first: once it is cleared its steps no longer read the fixed part.
        ((Object*)self)->st.clear();
        ((Object*)self)->fixed.clear();
        return 0;
    }

    static inline TypeCell type_;
};

}  // namespace tv
