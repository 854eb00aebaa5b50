// The common shape of Some, Ok and Err: an immutable object holding one payload. The three
// types differ only in their names, methods and which class they compare equal to.
#pragma once
#include "utils/binder.hpp"
#include "utils/heap_type.hpp"
#include "utils/holder.hpp"


namespace tv::opt {

struct Box {
    PyObject_HEAD
    Ref payload;
};

using BoxOps = HolderOps<Box, &Box::payload>;

inline PyObject* payload(PyObject* self) { return BoxOps::held(self); }

// isinstance() against one of the value types; a type that could not be created has no
// instances.
inline bool instance_of(PyObject* o, PyTypeObject* tp) { return tp && PyObject_TypeCheck(o, tp); }

// A new instance of `tp` (Some, Ok, Err or a subclass) holding `v`; an empty `v` is a
// failure already reported by its producer.
inline PyObject* box_new(PyTypeObject* tp, Ref v) noexcept {
    return BoxOps::create(tp, std::move(v));
}

// The constructors of a payload type whose parameter list is `S`.
template <const Sig& S>
inline constexpr vectorcallfunc payload_vectorcall = BoxOps::vectorcall<S>;
template <const Sig& S>
inline constexpr newfunc payload_tp_new = BoxOps::tp_new<S>;

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
PyTypeObject* box_type(TypeCell& slot, BoxKind& kind) noexcept;

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
PyTypeObject* namespace_type(TypeCell& slot, const char* qualname, const char* cls) noexcept;

// Adds a class attribute to a freshly created (immutable) type.
bool set_class_attr(PyTypeObject* tp, const char* name, PyObject* value) noexcept;

}  // namespace tv::opt
