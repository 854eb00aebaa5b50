#include "option/box.hpp"

#include "utils/registry.hpp"

#include <cstddef>
#include <new>
#include <utility>

namespace tv::opt {

PyObject* negated_eq(PyObject* self, PyObject* other) noexcept {
    Ref r = steal(PyObject_RichCompare(self, other, Py_EQ));
    if (!r) return ffi_err();
    int t = PyObject_IsTrue(r.get());
    if (t < 0) return nullptr;
    return PyBool_FromLong(!t);
}

PyObject* box_richcompare(PyObject* self, PyObject* other, int op, PyTypeObject* same) noexcept {
    if (op == Py_NE) return negated_eq(self, other);
    if (op != Py_EQ) Py_RETURN_NOTIMPLEMENTED;
    if (!PyObject_TypeCheck(other, same)) Py_RETURN_FALSE;
    // Both payloads are fixed for the life of their holders, which the caller keeps alive.
    Ref r = steal(PyObject_RichCompare(payload(self), payload(other), Py_EQ));
    if (!r) return ffi_err();
    if (r.get() == Py_True || r.get() == Py_False) return r.release();
    int t = PyObject_IsTrue(r.get());
    if (t < 0) return nullptr;
    return PyBool_FromLong(t);
}

PyObject* reduce_with_state(PyObject* self, PyObject* args) noexcept {
    // Instances of Python subclasses may carry attributes of their own: pass them on as
    // the state that unpickling and copying restore.
    Ref state;
    if (Py_TYPE(self)->tp_dictoffset != 0) {
        state = steal(PyObject_GenericGetDict(self, nullptr));
        if (!state) return ffi_err();
        if (PyDict_GET_SIZE(state.get()) == 0) state.reset();
    }
    if (!state) return Py_BuildValue("OO", (PyObject*)Py_TYPE(self), args);
    return Py_BuildValue("OOO", (PyObject*)Py_TYPE(self), args, state.get());
}

PyObject* box_reduce(PyObject* self, PyObject*) noexcept {
    Ref args = steal(PyTuple_Pack(1, payload(self)));
    return args ? reduce_with_state(self, args.get()) : nullptr;
}

bool set_class_attr(PyTypeObject* tp, const char* name, PyObject* value) noexcept {
    if (!value || PyDict_SetItemString(tp->tp_dict, name, value) < 0) return false;
    PyType_Modified(tp);
    return true;
}

PyTypeObject* box_type(TypeCell& slot, BoxKind& k) noexcept {
    if (PyTypeObject* t = slot.get()) return t;
    PyMethodDef* methods = class_methods(k.cls, {
        {"__reduce__", (PyCFunction)box_reduce, METH_NOARGS, nullptr},
        kClassGetItem,
    });
    if (!methods) return nullptr;
    k.members[0] = {k.field, Py_T_OBJECT_EX, (Py_ssize_t)offsetof(Box, payload), Py_READONLY,
                    nullptr};
    k.members[1] = {nullptr, 0, 0, 0, nullptr};
    PyType_Slot slots[] = {
        {Py_tp_doc, (void*)k.doc},
        {Py_tp_dealloc, (void*)BoxOps::dealloc},
        {Py_tp_traverse, (void*)BoxOps::traverse},
        {Py_tp_richcompare, (void*)k.richcompare},
        {Py_tp_repr, (void*)k.repr},
        {Py_tp_new, (void*)k.tp_new},
        {Py_tp_methods, methods},
        {Py_tp_members, k.members},
        {0, nullptr},
        {0, nullptr},
    };
    if (!k.truthy) slots[8] = {Py_nb_bool, (void*)+[](PyObject*) { return 0; }};
    PyType_Spec spec = {
        k.qualname, sizeof(Box), 0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    return type_once(slot, spec, [&](PyTypeObject* tp) {
        // Subclasses do not inherit this: their calls go through tp_new (and their __init__).
        tp->tp_vectorcall = k.vectorcall;
        Ref match_args = steal(Py_BuildValue("(s)", k.field));
        return set_class_attr(tp, "__match_args__", match_args.get());
    });
}

PyTypeObject* namespace_type(TypeCell& slot, const char* qualname, const char* cls) noexcept {
    if (PyTypeObject* t = slot.get()) return t;
    PyMethodDef* methods = class_methods(cls, {kClassGetItem});
    if (!methods) return nullptr;
    PyType_Slot slots[] = {
        {Py_tp_methods, methods},
        {0, nullptr},
    };
    PyType_Spec spec = {
        qualname, sizeof(PyObject), 0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return type_once(slot, spec);
}

}  // namespace tv::opt
