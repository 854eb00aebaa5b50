// Small pieces shared by the callable types of the function tools.
#include "fntools/fntools.hpp"

#include "utils/cached.hpp"

#include <iterator>
#include <new>

namespace tv::fn {

Ref own_module_attr(const char* name) { return import_attr("tarvel._tarvel", name); }

PyTypeObject* callable_type(TypeCell& slot, const CallableKind& k,
                            std::initializer_list<PyType_Slot> extra) noexcept {
    if (PyTypeObject* t = slot.get()) return t;
    // The type refers to its tables for as long as it lives, which is the process's life.
    auto* members = new (std::nothrow) PyMemberDef[2]{
        {"__vectorcalloffset__", Py_T_PYSSIZET, k.vc_offset, Py_READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr},
    };
    auto* methods = new (std::nothrow) PyMethodDef[2]{
        {"__reduce__", k.reduce, METH_NOARGS, nullptr},
        {nullptr, nullptr, 0, nullptr},
    };
    if (!members || !methods) {
        delete[] members;
        delete[] methods;
        return (PyTypeObject*)PyErr_NoMemory();
    }
    PyType_Slot slots[16] = {
        {Py_tp_dealloc, (void*)k.dealloc}, {Py_tp_traverse, (void*)k.traverse},
        {Py_tp_clear, (void*)k.clear},     {Py_tp_call, (void*)PyVectorcall_Call},
        {Py_tp_methods, methods},          {Py_tp_members, members},
    };
    size_t n = 6;
    for (const PyType_Slot& s : extra) {
        if (n + 1 >= std::size(slots)) return (PyTypeObject*)panic("too many type slots");
        slots[n++] = s;
    }
    slots[n] = {0, nullptr};
    unsigned flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE |
                     Py_TPFLAGS_HAVE_VECTORCALL;
    if (!k.instantiable) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
    PyType_Spec spec = {k.qualname, k.basicsize, k.itemsize, flags, slots};
    PyTypeObject* tp = type_once(slot, spec);
    if (!tp) {
        delete[] members;
        delete[] methods;
    }
    return tp;
}

CallableKind funcs_kind(const char* qualname, PyCFunction reduce) {
    return {qualname, kFuncsBase, sizeof(PyObject*), (Py_ssize_t)offsetof(FuncsObject, vc),
            reduce, gc_dealloc<funcs_clear>, funcs_traverse, funcs_clear};
}

PyObject* reduce_to(const char* module_fn, PyObject* args) {
    Ref a = steal(args);
    if (!a) return ffi_err();
    Ref fn = own_module_attr(module_fn);
    if (!fn) return nullptr;
    return PyTuple_Pack(2, fn.get(), a.get());
}

PyObject* funcs_new(PyTypeObject* tp, vectorcallfunc vc, PyObject* const* items, Py_ssize_t n,
                    bool reverse) {
    PyObject* self = tp->tp_alloc(tp, n);
    if (!self) return ffi_err();
    auto* o = (FuncsObject*)self;
    o->vc = vc;
    for (Py_ssize_t i = 0; i < n; ++i) o->funcs[i] = Py_NewRef(items[reverse ? n - 1 - i : i]);
    return self;
}

PyObject* funcs_list(PyObject* self) {
    auto* o = (FuncsObject*)self;
    Py_ssize_t n = Py_SIZE(self);
    PyObject* list = PyList_New(n);
    if (!list) return ffi_err();
    for (Py_ssize_t i = 0; i < n; ++i) PyList_SET_ITEM(list, i, Py_NewRef(o->funcs[i]));
    return list;
}

int funcs_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    auto* o = (FuncsObject*)self;
    for (Py_ssize_t i = 0; i < Py_SIZE(self); ++i) Py_VISIT(o->funcs[i]);
    return 0;
}

int funcs_clear(PyObject* self) {
    auto* o = (FuncsObject*)self;
    // Shrink first: a __del__ run by a release must never meet a dangling entry.
    Py_ssize_t n = Py_SIZE(self);
    Py_SET_SIZE((PyVarObject*)self, 0);
    for (Py_ssize_t i = 0; i < n; ++i) Py_CLEAR(o->funcs[i]);
    return 0;
}

}  // namespace tv::fn
