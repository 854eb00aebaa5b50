// Lazy results. Every lazy iterator of the module is one State on the one generic type
// LazyIter<State>, which owns the raw tp_iternext slot, the busy flag and the C++
// exception boundary:
//
//   struct InterposeState {
//       static constexpr const char* kName = "InterposeIter";
//       static constexpr const char* kDoc = "...";       // class docstring (optional)
//       static constexpr const char* kHintDoc = "...";   // with hint(): its docstring
//       PyObject* next();                 // new ref | nullptr (end) | nullptr + exception
//       Py_ssize_t hint();                // optional: >= 0, or -1 with an exception set
//       int traverse(visitproc, void*);   // the Python objects it holds
//       void clear();                     // drop them (cyclic GC)
//   };
//   TV_REGISTER("#InterposeIter", LazyIter<InterposeState>::make_type);
//   ... LazyIter<InterposeState>::create(ctor args...) ...
//
// A State with a type of its own is a dedicated iterator: its next() is called straight
// from its type's slot. Any other State (no kName, no clear, no hint) runs inside the one
// NativeIter type: make_native_iter<S>(args...) or, for a state built on a Source as its
// first argument, lazy_over<S>(seq, args...).
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
#include "utils/source.hpp"
#include "utils/threading.hpp"

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

namespace tv {

PyObject* busy_error() noexcept;

// The reentrancy guard of one iterator: 0 free, 1 while a step or a length query runs.
// Taken with one test-and-set, so of two threads (or a step and the Python code it runs)
// exactly one gets the state; the release on leaving publishes what the step wrote.
using BusyFlag = SharedWord<int>;

class BusyScope {
public:
    explicit BusyScope(BusyFlag& flag) noexcept
        : flag_(flag), ok_(flag.exchange(1, std::memory_order_acquire) == 0) {
        if (!ok_) busy_error();
    }
    ~BusyScope() {
        if (ok_) flag_.store(0, std::memory_order_release);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    BusyFlag& flag_;
    bool ok_;
};

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

template <class S, class = void>
struct HasHint : std::false_type {};
template <class S>
struct HasHint<S, std::void_t<decltype(std::declval<S&>().hint())>> : std::true_type {};

template <class S, class = void>
struct HasDoc : std::false_type {};
template <class S>
struct HasDoc<S, std::void_t<decltype(S::kDoc)>> : std::true_type {};

template <class State>
class LazyIter {
public:
    using Fixed = typename FixedOf<State>::type;
    static constexpr bool kHasFixed = !std::is_same_v<Fixed, NoFixed>;
    static constexpr bool kHasHint = HasHint<State>::value;

    struct Object {
        PyObject_HEAD
        [[no_unique_address]] Fixed fixed;  // read by steps, never changed by them
        BusyFlag busy;
        State st;
    };

    // The type object (borrowed; created on first need), nullptr with an exception set.
    static PyTypeObject* type() noexcept {
        if (PyTypeObject* t = type_.get()) return t;
        static PyMethodDef methods[2] = {};
        static PyType_Slot slots[8] = {};
        size_t n = 0;
        // Lazy results stack (remove(p, remove(p, ...))): the deallocator's trashcan keeps
        // dropping a deep chain off the C stack.
        slots[n++] = {Py_tp_dealloc, (void*)gc_dealloc<destroy>};
        slots[n++] = {Py_tp_traverse, (void*)traverse};
        slots[n++] = {Py_tp_clear, (void*)clear};
        slots[n++] = {Py_tp_iter, (void*)PyObject_SelfIter};
        slots[n++] = {Py_tp_iternext, (void*)iternext};
        if constexpr (HasDoc<State>::value) slots[n++] = {Py_tp_doc, (void*)State::kDoc};
        if constexpr (kHasHint) {
            methods[0] = {"__length_hint__", (PyCFunction)length_hint, METH_NOARGS,
                          State::kHintDoc};
            slots[n++] = {Py_tp_methods, methods};
        }
        slots[n] = {0, nullptr};
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
        new (&o->busy) BusyFlag(0);
        bool built = guard<bool>(false, [&] {
            new (&o->st) State(std::forward<A>(args)...);
            return true;
        });
        if (!built) {
            tp->tp_free(self);
            Py_DECREF(tp);
            return nullptr;
        }
        new (&o->fixed) Fixed(std::move(fixed));
        PyObject_GC_Track(self);
        return self;
    }

    static State& state(PyObject* self) { return ((Object*)self)->st; }

private:
    static PyObject* iternext(PyObject* self) {
        Object* o = (Object*)self;
        BusyScope busy(o->busy);
        if (!busy.ok()) return nullptr;
        return guard<PyObject*>(
            nullptr,
            [&] {
                if constexpr (kHasFixed) return o->st.next(o->fixed);
                else return o->st.next();
            },
            "panic in __next__");
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

// The state of a NativeIter: one step state of any kind behind a virtual call, so every
// lazy result without a type of its own shares one Python type.
class NativeState {
public:
    static constexpr const char* kName = "NativeIter";

    struct Step {
        virtual ~Step() = default;
        virtual PyObject* next() = 0;
        virtual int traverse(visitproc, void*) = 0;
    };
    template <class S>
    struct StepOf final : Step {
        template <class... A>
        explicit StepOf(A&&... args) : s(std::forward<A>(args)...) {}
        PyObject* next() override { return s.next(); }
        int traverse(visitproc visit, void* arg) override { return s.traverse(visit, arg); }
        S s;
    };

    explicit NativeState(std::unique_ptr<Step>& step) noexcept : step_(std::move(step)) {}

    PyObject* next() { return step_ ? step_->next() : nullptr; }
    int traverse(visitproc visit, void* arg) { return step_ ? step_->traverse(visit, arg) : 0; }
    void clear() {
        // Detached first: destroying the step may run __del__ code that reaches this iterator.
        std::unique_ptr<Step> dead = std::move(step_);
    }

private:
    std::unique_ptr<Step> step_;
};

using NativeIter = LazyIter<NativeState>;

// A new NativeIter running the step state S built from `args`; a new reference.
template <class S, class... A>
PyObject* make_native_iter(A&&... args) noexcept {
    return guard<PyObject*>(nullptr, [&] {
        std::unique_ptr<NativeState::Step> step =
            std::make_unique<NativeState::StepOf<S>>(std::forward<A>(args)...);
        return NativeIter::create(step);  // on failure the step is destroyed here
    });
}

// The same for a step state whose first argument is the Source over `seq`.
template <class S, class... A>
PyObject* lazy_over(PyObject* seq, A&&... args) noexcept {
    Source src;
    if (!src.open(seq)) return nullptr;
    return make_native_iter<S>(std::move(src), std::forward<A>(args)...);
}

// A NativeIter whose every step ends the iteration.
PyObject* empty_iter() noexcept;

inline int visit_one(visitproc visit, void* arg, const Ref& r) {
    Py_VISIT(r.get());
    return 0;
}
inline int visit_one(visitproc visit, void* arg, const Source& s) { return s.traverse(visit, arg); }

// Visits the Python objects held by each of `held` (Refs and Sources) in turn, for a
// State's traverse(); stops at the first nonzero result.
template <class... H>
int visit_refs(visitproc visit, void* arg, const H&... held) {
    int r = 0;
    ((r = r ? r : visit_one(visit, arg, held)), ...);
    return r;
}

}  // namespace tv
