// Small combinators: juxt, complement, excepts (with their callable types), do, apply, flip
// and identity.
#include "fntools/fntools.hpp"

#include "utils/binder.hpp"
#include "utils/registry.hpp"

namespace tv::fn {

namespace {

PyTypeObject* juxt_type = nullptr;
PyTypeObject* complement_type = nullptr;
PyTypeObject* excepts_type = nullptr;

// Every function sees the same arguments; the results come back as one tuple.
PyObject* juxt_call(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    auto* o = (FuncsObject*)self;
    Py_ssize_t n = Py_SIZE(self);
    Ref out = steal(PyTuple_New(n));
    if (!out) return ffi_err();
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* r = call_vector(o->funcs[i], args, nargsf, kwnames);
        if (!r) return ffi_err();
        PyTuple_SET_ITEM(out.get(), i, r);
    }
    return out.release();
}

// A single list argument is always read as the list of functions, callable or not.
PyObject* juxt_reduce(PyObject* self, PyObject*) {
    Ref funcs = steal(funcs_list(self));
    if (!funcs) return nullptr;
    return reduce_to("juxt", PyTuple_Pack(1, funcs.get()));
}

using Complement = RefsObject<1>;  // func

PyObject* complement_call(PyObject* self, PyObject* const* args, size_t nargsf,
                          PyObject* kwnames) {
    PyObject* func = ((Complement*)self)->ref[0];
    if (!func) return panic("complement object used after it was cleared");
    RecursionStep step;
    if (!step.ok()) return nullptr;
    Ref r = steal(PyObject_Vectorcall(func, args, nargsf, kwnames));
    if (!r) return ffi_err();
    int truth = PyObject_IsTrue(r.get());
    if (truth < 0) return ffi_err();
    return PyBool_FromLong(!truth);
}

PyObject* complement_reduce(PyObject* self, PyObject*) {
    PyObject* func = ((Complement*)self)->ref[0];
    if (!func) return panic("complement object used after it was cleared");
    return reduce_to("complement", PyTuple_Pack(1, func));
}

using Excepts = RefsObject<3>;  // exc, func, handler (optional)

PyObject* excepts_call(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    auto* o = (Excepts*)self;
    PyObject *exc = o->ref[0], *func = o->ref[1], *handler = o->ref[2];
    if (!func) return panic("excepts object used after it was cleared");
    RecursionStep step;
    if (!step.ok()) return nullptr;
    if (PyObject* r = PyObject_Vectorcall(func, args, nargsf, kwnames)) return r;
    Ref err = take_matching(exc);
    if (!err) return ffi_err();
    if (!handler) return Py_NewRef(Py_None);
    Ref keep = borrow(handler);
    PyObject* r = PyObject_CallOneArg(handler, err.get());
    return r ? r : ffi_err();
}

PyObject* excepts_reduce(PyObject* self, PyObject*) {
    auto* o = (Excepts*)self;
    if (!o->ref[1]) return panic("excepts object used after it was cleared");
    PyObject* handler = o->ref[2] ? o->ref[2] : Py_None;
    return reduce_to("excepts", PyTuple_Pack(3, o->ref[0], o->ref[1], handler));
}

PyMemberDef juxt_members[] = {TV_VECTORCALL_MEMBER(FuncsObject), {nullptr, 0, 0, 0, nullptr}};
PyMemberDef complement_members[] = {TV_VECTORCALL_MEMBER(Complement),
                                    {nullptr, 0, 0, 0, nullptr}};
PyMemberDef excepts_members[] = {TV_VECTORCALL_MEMBER(Excepts), {nullptr, 0, 0, 0, nullptr}};

PyMethodDef juxt_methods[] = {
    {"__reduce__", (PyCFunction)TV_GUARDED(juxt_reduce), METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};
PyMethodDef complement_methods[] = {
    {"__reduce__", (PyCFunction)TV_GUARDED(complement_reduce), METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};
PyMethodDef excepts_methods[] = {
    {"__reduce__", (PyCFunction)TV_GUARDED(excepts_reduce), METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot juxt_slots[] = {
    {Py_tp_dealloc, (void*)funcs_dealloc},   {Py_tp_traverse, (void*)funcs_traverse},
    {Py_tp_clear, (void*)funcs_clear},       {Py_tp_call, (void*)PyVectorcall_Call},
    {Py_tp_methods, juxt_methods},           {Py_tp_members, juxt_members},
    {0, nullptr},
};
PyType_Slot complement_slots[] = {
    {Py_tp_dealloc, (void*)refs_dealloc<1>}, {Py_tp_traverse, (void*)refs_traverse<1>},
    {Py_tp_clear, (void*)refs_clear<1>},     {Py_tp_call, (void*)PyVectorcall_Call},
    {Py_tp_methods, complement_methods},     {Py_tp_members, complement_members},
    {0, nullptr},
};
PyType_Slot excepts_slots[] = {
    {Py_tp_dealloc, (void*)refs_dealloc<3>}, {Py_tp_traverse, (void*)refs_traverse<3>},
    {Py_tp_clear, (void*)refs_clear<3>},     {Py_tp_call, (void*)PyVectorcall_Call},
    {Py_tp_methods, excepts_methods},        {Py_tp_members, excepts_members},
    {0, nullptr},
};

constexpr unsigned kFlags = TV_CALLABLE_FLAGS | Py_TPFLAGS_DISALLOW_INSTANTIATION;
PyType_Spec juxt_spec = {"tarvel._tarvel.Juxt", kFuncsBase, sizeof(PyObject*), kFlags,
                         juxt_slots};
PyType_Spec complement_spec = {"tarvel._tarvel.Complement", sizeof(Complement), 0, kFlags,
                               complement_slots};
PyType_Spec excepts_spec = {"tarvel._tarvel.Excepts", sizeof(Excepts), 0, kFlags,
                            excepts_slots};

}  // namespace

}  // namespace tv::fn

using namespace tv;
using namespace tv::fn;

TV_FUNCTION(identity, "identity(x)") { return Py_NewRef(a[0]); }

TV_FUNCTION(juxt, "juxt(*funcs)") {
    Ref tp = steal(type_once(juxt_type, juxt_spec));
    if (!tp) return nullptr;
    if (a.nrest == 1 && !PyCallable_Check(a.rest[0])) {
        Ref funcs = steal(PySequence_List(a.rest[0]));
        if (!funcs) return ffi_err();
        return funcs_new((PyTypeObject*)tp.get(), TV_GUARDED(juxt_call),
                         ((PyListObject*)funcs.get())->ob_item, PyList_GET_SIZE(funcs.get()),
                         false);
    }
    return funcs_new((PyTypeObject*)tp.get(), TV_GUARDED(juxt_call), a.rest, a.nrest, false);
}

TV_FUNCTION(complement, "complement(func)") {
    Ref tp = steal(type_once(complement_type, complement_spec));
    if (!tp) return nullptr;
    return refs_new<1>((PyTypeObject*)tp.get(), TV_GUARDED(complement_call), {a[0]});
}

TV_FUNCTION(excepts, "excepts(exc, func, handler=None)") {
    Ref tp = steal(type_once(excepts_type, excepts_spec));
    if (!tp) return nullptr;
    PyObject* handler = a[2] == Py_None ? nullptr : a[2];
    return refs_new<3>((PyTypeObject*)tp.get(), TV_GUARDED(excepts_call), {a[0], a[1], handler});
}

TV_FUNCTION(do, "do(func, x)") {
    Ref r = steal(PyObject_CallOneArg(a[0], a[1]));
    if (!r) return ffi_err();
    return Py_NewRef(a[1]);
}

TV_FUNCTION(apply, "apply(func, *args, **kwargs)") {
    Ref args = a.rest_tuple();
    if (!args) return ffi_err();
    PyObject* r = PyObject_Call(a[0], args.get(), a.kwargs.get());
    return r ? r : ffi_err();
}

// The plain function behind the module's `flip`, which is a curry around it.
TV_HIDDEN_FUNCTION(flip, "flip(func, a, b)") {
    PyObject* args[] = {a[2], a[1]};
    PyObject* r = PyObject_Vectorcall(a[0], args, 2, nullptr);
    return r ? r : ffi_err();
}

namespace tv::fn {

PyMethodDef* identity_def() { return &fn_identity::decl.def; }

bool is_plain_flip(PyObject* func) {
    return PyCFunction_Check(func) && ((PyCFunctionObject*)func)->m_ml == &fn_flip_hidden::decl.def;
}

namespace {

PyObject* make_flip(PyObject* module) {
    Ref modname = steal(PyModule_GetNameObject(module));
    if (!modname) return ffi_err();
    Ref plain = steal(PyCMethod_New(&fn_flip_hidden::decl.def, module, modname.get(), nullptr));
    Ref args = steal(PyTuple_New(0));
    Ref kwargs = steal(PyDict_New());
    if (!plain || !args || !kwargs) return ffi_err();
    return curry_new(plain.get(), args.get(), kwargs.get());
}

TV_REGISTER("flip", make_flip);

}  // namespace

}  // namespace tv::fn
