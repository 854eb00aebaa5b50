// Small pieces shared by the callable types of the function tools.
#include "fntools/fntools.hpp"

#include "utils/cached.hpp"

namespace tv::fn {

Ref module_attr(const char* name) { return import_attr("tarvel._tarvel", name); }

PyObject* type_once(PyTypeObject*& slot, PyType_Spec& spec) {
    if (!slot) {
        slot = (PyTypeObject*)PyType_FromSpec(&spec);
        if (!slot) return ffi_err();
    }
    return Py_NewRef((PyObject*)slot);
}

PyObject* reduce_to(const char* module_fn, PyObject* args) {
    Ref a = steal(args);
    if (!a) return ffi_err();
    Ref fn = module_attr(module_fn);
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

void funcs_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    // Long chains of nested callables are released iteratively, not on the C stack.
    Py_TRASHCAN_BEGIN(self, funcs_dealloc)
    funcs_clear(self);
    tp->tp_free(self);
    Py_DECREF(tp);
    Py_TRASHCAN_END
}

}  // namespace tv::fn
