// The common shape of Some, Ok and Err: an immutable object holding one payload. The three
// types differ only in their names, methods and which class they compare equal to.
#pragma once
#include "utils/binder.hpp"
#include "utils/heap_type.hpp"


namespace tv::opt {

// A few released objects of one exact type, kept for reuse (the interpreter lock guards it).
template <class T, int N>
class FreeList {
public:
    // A recycled object initialised as a new instance of `tp`, or nullptr when none is kept.
    T* pop(PyTypeObject* tp) {
        if (!n_) return nullptr;
        T* o = items_[--n_];
        PyObject_Init((PyObject*)o, tp);
        return o;
    }
    // Keeps a dead object (refcount 0, untracked, fields released); false when full.
    bool push(T* o) {
        if (n_ == N) return false;
        items_[n_++] = o;
        return true;
    }

private:
    T* items_[N];
    int n_ = 0;
};

struct Box {
    PyObject_HEAD
    Ref payload;
};

inline PyObject* payload(PyObject* self) { return ((Box*)self)->payload.get(); }

// isinstance() against one of the value types; a type that could not be created has no
// instances.
inline bool instance_of(PyObject* o, PyTypeObject* tp) { return tp && PyObject_TypeCheck(o, tp); }

// A new instance of `tp` (Some, Ok, Err or a subclass) holding `v`; an empty `v` is a
// failure already reported by its producer.
PyObject* box_new(PyTypeObject* tp, Ref v) noexcept;

// Release and traversal of every holder type: types that keep Box's layout and use these
// share its free list and its iterative release of long chains.
void box_dealloc(PyObject* self);
int box_traverse(PyObject* self, visitproc visit, void* arg);

// The constructors of a payload type whose parameter list is `S`: calls of the exact type
// (vectorcall) and of subclasses (tp_new).
template <const Sig& S>
PyObject* payload_vectorcall(PyObject* type, PyObject* const* args, size_t nargsf,
                             PyObject* kwnames) {
    Args a;
    if (!S.bind(a, nullptr, args, PyVectorcall_NARGS(nargsf), kwnames)) return nullptr;
    return box_new((PyTypeObject*)type, borrow(a[0]));
}

template <const Sig& S>
PyObject* payload_tp_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
    Args a;
    if (!S.bind_tuple(a, nullptr, args, kwargs)) return nullptr;
    return box_new(tp, borrow(a[0]));
}

// What distinguishes one payload type from another.
struct BoxKind {
    const char* cls;       // "Some": the class whose declared methods the type has
    const char* qualname;  // "tarvel._tarvel.Some"
    const char* doc;       // "Some(value)\n--\n\n"
    const char* field;     // "value": the read-only attribute and the one match argument
    bool truthy;
    richcmpfunc richcompare;
    reprfunc repr;
    newfunc tp_new;            // for subclasses and keyword calls through type()
    vectorcallfunc vectorcall;  // calls of the exact type
    PyMemberDef members[2];     // filled by box_type; lives as long as the type
};

// The type object for `kind`, created in `slot` on first need (borrowed), or nullptr with an
// exception set.
PyTypeObject* box_type(PyTypeObject*& slot, BoxKind& kind) noexcept;

// Rich comparison shared by the payload types: == is payload equality against instances of
// `same` (never NotImplemented), != negates ==, ordering is not supported.
PyObject* box_richcompare(PyObject* self, PyObject* other, int op, PyTypeObject* same) noexcept;
// != for every value type: the interpreter's == on the pair, negated.
PyObject* negated_eq(PyObject* self, PyObject* other) noexcept;

// PREFIX(repr(payload)); an exception of the payload's repr propagates.
inline PyObject* box_repr(PyObject* self, const char* prefix) noexcept {
    return PyUnicode_FromFormat("%s(%R)", prefix, payload(self));
}

// (type(self), args[, instance dict]) for __reduce__: the dict only for subclass instances
// that have attributes of their own.
PyObject* reduce_with_state(PyObject* self, PyObject* args) noexcept;
// __reduce__ of the payload types: (type(self), (payload,)[, dict]).
PyObject* box_reduce(PyObject* self, PyObject*) noexcept;

// A namespace type, created in `slot` on first need: no instances, only the static methods
// declared for class `cls` (and __class_getitem__). Borrowed, or nullptr with an exception.
PyTypeObject* namespace_type(PyTypeObject*& slot, const char* qualname, const char* cls) noexcept;

// Adds a class attribute to a freshly created (immutable) type.
bool set_class_attr(PyTypeObject* tp, const char* name, PyObject* value) noexcept;

inline constexpr PyMethodDef kClassGetItem = {
    "__class_getitem__", (PyCFunction)Py_GenericAlias, METH_O | METH_CLASS,
    "See PEP 585"};

}  // namespace tv::opt
