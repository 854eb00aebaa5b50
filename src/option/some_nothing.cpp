// Optional values: Some, NothingType (with the module's Nothing) and the Option namespace.
#include "option/box.hpp"
#include "option/option.hpp"

#include "utils/binder.hpp"
#include "utils/registry.hpp"

namespace tv::opt {

namespace {

TypeCell g_some;
TypeCell g_nothing;

const Sig some_sig{"Some(value)", nullptr, {}};
const Sig nothing_sig{"NothingType()", nullptr, {}};

PyObject* some_richcompare(PyObject* self, PyObject* other, int op) {
    return box_richcompare(self, other, op, g_some.get());
}

PyObject* some_repr(PyObject* self) { return box_repr(self, "Some"); }

bool is_option(PyObject* o) {
    return instance_of(o, some_type()) || instance_of(o, nothing_type());
}

// Absence is a new object on every call: the exact type recycles released instances.
FreeList<PyObject, 64> g_free_nothings;

PyObject* new_nothing(PyTypeObject* tp) {
    PyObject* self = nullptr;
    if (tp == g_nothing.get()) {
        self = g_free_nothings.pop(tp);
        if (!self) self = PyObject_New(PyObject, tp);
    } else {
        self = tp->tp_alloc(tp, 0);
    }
    return self ? self : ffi_err();
}

void nothing_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    if (tp != g_nothing.get() || !g_free_nothings.push(self)) tp->tp_free(self);
    Py_DECREF(tp);
}

}  // namespace

PyObject* some(Ref value) noexcept { return box_new(some_type(), std::move(value)); }

PyObject* nothing() noexcept {
    PyTypeObject* tp = nothing_type();
    return tp ? new_nothing(tp) : nullptr;
}

}  // namespace tv::opt

using namespace tv;
using namespace tv::opt;

// ---- Some ----------------------------------------------------------------------------------

TV_METHOD(Some, map, "map($self, f)") {
    return some(steal(PyObject_CallOneArg(a[0], payload(a.self))));
}

TV_METHOD(Some, and_then, "and_then($self, f)") {
    Ref r = steal(PyObject_CallOneArg(a[0], payload(a.self)));
    if (!r) return nullptr;
    if (is_option(r.get())) return r.release();
    PyErr_SetString(PyExc_TypeError, "and_then callback must return an Option");
    return nullptr;
}

TV_METHOD(Some, filter, "filter($self, pred)") {
    PyObject* v = payload(a.self);
    Ref r = steal(PyObject_CallOneArg(a[0], v));
    if (!r) return nullptr;
    int keep = PyObject_IsTrue(r.get());
    if (keep < 0) return nullptr;
    r.reset();
    return keep ? some(borrow(v)) : nothing();
}

TV_METHOD(Some, unwrap, "unwrap($self)") { return Py_NewRef(payload(a.self)); }

TV_METHOD(Some, unwrap_or, "unwrap_or($self, default)") { return Py_NewRef(payload(a.self)); }

TV_METHOD(Some, unwrap_or_else, "unwrap_or_else($self, f)") {
    return Py_NewRef(payload(a.self));
}

TV_METHOD(Some, ok_or, "ok_or($self, err)") { return ok_obj(borrow(payload(a.self))); }

TV_METHOD(Some, is_some, "is_some($self)") { Py_RETURN_TRUE; }

TV_METHOD(Some, is_none, "is_none($self)") { Py_RETURN_FALSE; }

// ---- NothingType ---------------------------------------------------------------------------

TV_METHOD(NothingType, map, "map($self, f)") { return nothing(); }

TV_METHOD(NothingType, and_then, "and_then($self, f)") { return nothing(); }

TV_METHOD(NothingType, filter, "filter($self, pred)") { return nothing(); }

TV_METHOD(NothingType, unwrap, "unwrap($self)") {
    PyErr_SetString(PyExc_ValueError, "called `unwrap` on Nothing");
    return nullptr;
}

TV_METHOD(NothingType, unwrap_or, "unwrap_or($self, default)") { return Py_NewRef(a[0]); }

TV_METHOD(NothingType, unwrap_or_else, "unwrap_or_else($self, f)") {
    PyObject* r = PyObject_CallNoArgs(a[0]);
    return r ? r : ffi_err();
}

TV_METHOD(NothingType, ok_or, "ok_or($self, err)") { return err_obj(borrow(a[0])); }

TV_METHOD(NothingType, is_some, "is_some($self)") { Py_RETURN_FALSE; }

TV_METHOD(NothingType, is_none, "is_none($self)") { Py_RETURN_TRUE; }

// ---- Option --------------------------------------------------------------------------------

TV_METHOD(Option, of, "of(v)") {
    return a[0] == Py_None ? nothing() : some(borrow(a[0]));
}

// ---- Types ---------------------------------------------------------------------------------

namespace tv::opt {

namespace {

PyObject* nothing_vectorcall(PyObject* type, PyObject* const* args, size_t nargsf,
                             PyObject* kwnames) {
    Args a;
    if (!nothing_sig.bind(a, nullptr, args, PyVectorcall_NARGS(nargsf), kwnames)) return nullptr;
    return new_nothing((PyTypeObject*)type);
}

PyObject* nothing_tp_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
    Args a;
    if (!nothing_sig.bind_tuple(a, nullptr, args, kwargs)) return nullptr;
    return new_nothing(tp);
}

PyObject* nothing_richcompare(PyObject* self, PyObject* other, int op) {
    if (op == Py_NE) return negated_eq(self, other);
    if (op != Py_EQ) Py_RETURN_NOTIMPLEMENTED;
    return PyBool_FromLong(PyObject_TypeCheck(other, g_nothing.get()));
}

PyObject* nothing_repr(PyObject*) { return PyUnicode_FromString("Nothing"); }

int nothing_bool(PyObject*) { return 0; }

PyObject* nothing_reduce(PyObject* self, PyObject*) {
    Ref args = steal(PyTuple_New(0));
    return args ? reduce_with_state(self, args.get()) : nullptr;
}

PyObject* make_option(PyObject*) {
    static TypeCell type;
    return type_maker_of(namespace_type(type, "tarvel._tarvel.Option", "Option"));
}

// The module attribute: one ordinary instance, made at import.
PyObject* make_nothing_instance(PyObject*) { return nothing(); }

}  // namespace

PyTypeObject* some_type() noexcept {
    static BoxKind kind = {
        "Some", "tarvel._tarvel.Some", "Some(value)\n--\n\n", "value", true,
        some_richcompare, some_repr, payload_tp_new<some_sig>, payload_vectorcall<some_sig>, {},
    };
    return box_type(g_some, kind);
}

PyTypeObject* nothing_type() noexcept {
    if (PyTypeObject* t = g_nothing.get()) return t;
    PyMethodDef* methods = class_methods("NothingType", {
        {"__reduce__", (PyCFunction)nothing_reduce, METH_NOARGS, nullptr},
        kClassGetItem,
    });
    if (!methods) return nullptr;
    static PyType_Slot slots[] = {
        {Py_tp_doc, (void*)"NothingType()\n--\n\n"},
        {Py_tp_dealloc, (void*)nothing_dealloc},
        {Py_tp_richcompare, (void*)nothing_richcompare},
        {Py_tp_repr, (void*)nothing_repr},
        {Py_nb_bool, (void*)nothing_bool},
        {Py_tp_new, (void*)nothing_tp_new},
        {Py_tp_methods, methods},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "tarvel._tarvel.NothingType", sizeof(PyObject), 0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    return type_once(g_nothing, spec, [](PyTypeObject* tp) {
        tp->tp_vectorcall = nothing_vectorcall;
        return true;
    });
}

}  // namespace tv::opt

TV_REGISTER("Some", tv::type_maker<tv::opt::some_type>);
TV_REGISTER("NothingType", tv::type_maker<tv::opt::nothing_type>);
TV_REGISTER("Option", tv::opt::make_option);
TV_REGISTER("Nothing", tv::opt::make_nothing_instance);
