// Small combinators: juxt, complement, excepts (with their callable types), do, apply, flip
// and identity.
#include "fntools/fntools.hpp"

#include "utils/binder.hpp"
#include "utils/registry.hpp"
#include "utils/signals.hpp"

namespace tv::fn {

namespace {

TypeCell juxt_type;
TypeCell complement_type;
TypeCell excepts_type;

// Every function sees the same arguments; the results come back as one tuple.
PyObject* juxt_call(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    auto* o = (FuncsObject*)self;
    Py_ssize_t n = Py_SIZE(self);
    Ref out = steal(PyTuple_New(n));
    if (!out) return ffi_err();
    SignalPoll poll;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!poll.ok()) return nullptr;
        PyObject* r = nested_vectorcall(o->funcs[i], args, nargsf, kwnames);
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

const CallableKind juxt_kind = funcs_kind("tarvel._tarvel.Juxt", TV_GUARDED(juxt_reduce));
const CallableKind complement_kind =
    refs_kind<1>("tarvel._tarvel.Complement", TV_GUARDED(complement_reduce), sizeof(Complement));
const CallableKind excepts_kind =
    refs_kind<3>("tarvel._tarvel.Excepts", TV_GUARDED(excepts_reduce), sizeof(Excepts));

}  // namespace

}  // namespace tv::fn

using namespace tv;
using namespace tv::fn;

TV_FUNCTION(identity, "identity(x)") { return Py_NewRef(a[0]); }

TV_FUNCTION(juxt, "juxt(*funcs)") {
    PyTypeObject* tp = callable_type(juxt_type, juxt_kind);
    if (!tp) return nullptr;
    if (a.nrest == 1 && !PyCallable_Check(a.rest[0])) {
        Ref funcs = steal(PySequence_List(a.rest[0]));
        if (!funcs) return ffi_err();
        return funcs_new(tp, TV_GUARDED(juxt_call),
                         ((PyListObject*)funcs.get())->ob_item, PyList_GET_SIZE(funcs.get()),
                         false);
    }
    return funcs_new(tp, TV_GUARDED(juxt_call), a.rest, a.nrest, false);
}

TV_FUNCTION(complement, "complement(func)") {
    PyTypeObject* tp = callable_type(complement_type, complement_kind);
    if (!tp) return nullptr;
    return refs_new<1>(tp, TV_GUARDED(complement_call), {a[0]});
}

TV_FUNCTION(excepts, "excepts(exc, func, handler=None)") {
    PyTypeObject* tp = callable_type(excepts_type, excepts_kind);
    if (!tp) return nullptr;
    PyObject* handler = a[2] == Py_None ? nullptr : a[2];
    return refs_new<3>(tp, TV_GUARDED(excepts_call), {a[0], a[1], handler});
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
