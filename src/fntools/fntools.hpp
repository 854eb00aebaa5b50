// The function tools: curry, composition and threading, the small combinators, memoize.
// Their callable objects are immutable heap types called through vectorcall; each pickles
// by reducing to the registered module function that builds it.
#pragma once
#include "utils/errors.hpp"

#include <cstddef>
#include <initializer_list>

#if PY_VERSION_HEX >= 0x030C0000
#define TV_VECTORCALL_MEMBER(T) \
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(T, vc), Py_READONLY, nullptr}
#else
#include <structmember.h>
#define TV_VECTORCALL_MEMBER(T) \
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(T, vc), READONLY, nullptr}
#endif

// Flags shared by every callable type of the family.
#define TV_CALLABLE_FLAGS                                                          \
    (Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE |          \
     Py_TPFLAGS_HAVE_VECTORCALL)

namespace tv::fn {

// A new curry object of the exact type: `args` a tuple, `kwargs` a dict (both borrowed),
// signature not yet resolved.
PyObject* curry_new(PyObject* func, PyObject* args, PyObject* kwargs);

// The method definition behind the module's `identity`.
PyMethodDef* identity_def();

// The module function or attribute `name` of tarvel._tarvel, for pickling by reference.
Ref module_attr(const char* name);

// Creates `*slot` from `spec` on first need; a new reference.
PyObject* type_once(PyTypeObject*& slot, PyType_Spec& spec);

// The `(callable, args)` pair that __reduce__ returns; steals `args`.
PyObject* reduce_to(const char* module_fn, PyObject* args);

// True for the plain flip function (the one the module's `flip` curry wraps).
bool is_plain_flip(PyObject* func);

// The callables that hold a list of functions (Compose, Juxt): the references sit inline,
// owned, one per item of the variable-size object.
struct FuncsObject {
    PyObject_VAR_HEAD
    vectorcallfunc vc;
    PyObject* funcs[1];
};
inline constexpr int kFuncsBase = (int)offsetof(FuncsObject, funcs);

// A new object of `tp` holding `n` functions (in reverse order when `reverse`).
PyObject* funcs_new(PyTypeObject* tp, vectorcallfunc vc, PyObject* const* items, Py_ssize_t n,
                    bool reverse);
// The held functions as a new list.
PyObject* funcs_list(PyObject* self);
int funcs_traverse(PyObject* self, visitproc visit, void* arg);
int funcs_clear(PyObject* self);
void funcs_dealloc(PyObject* self);

// The callables with a fixed set of references (Complement, Excepts, Memoize); absent
// optional references are nullptr.
template <int N>
struct RefsObject {
    PyObject_HEAD
    vectorcallfunc vc;
    PyObject* ref[N];
};

template <int N>
int refs_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    for (PyObject* r : ((RefsObject<N>*)self)->ref) Py_VISIT(r);
    return 0;
}

template <int N>
int refs_clear(PyObject* self) {
    for (PyObject*& r : ((RefsObject<N>*)self)->ref) Py_CLEAR(r);
    return 0;
}

template <int N>
void refs_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Py_TRASHCAN_BEGIN(self, refs_dealloc<N>)
    refs_clear<N>(self);
    tp->tp_free(self);
    Py_DECREF(tp);
    Py_TRASHCAN_END
}

// A new object of `tp` holding new references to `refs` (nullptr entries stay absent).
template <int N>
PyObject* refs_new(PyTypeObject* tp, vectorcallfunc vc, std::initializer_list<PyObject*> refs) {
    PyObject* self = tp->tp_alloc(tp, 0);
    if (!self) return ffi_err();
    auto* o = (RefsObject<N>*)self;
    o->vc = vc;
    int i = 0;
    for (PyObject* r : refs) o->ref[i++] = Py_XNewRef(r);
    return self;
}

// One step of the interpreter's C recursion limit for the life of a scope, so that chains of
// nested callables fail with RecursionError instead of exhausting the C stack.
class RecursionStep {
public:
    RecursionStep() : ok_(Py_EnterRecursiveCall(" while calling a Python object") == 0) {}
    ~RecursionStep() {
        if (ok_) Py_LeaveRecursiveCall();
    }
    RecursionStep(const RecursionStep&) = delete;
    RecursionStep& operator=(const RecursionStep&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_;
};

// A built-in that takes exactly one argument, entered directly as the interpreter's own
// specialised call sites do: chains of cheap built-ins are where composing natively pays,
// and generic dispatch would eat the gain. Such a function cannot re-enter the chain
// without passing through a call that counts recursion itself, so no step is taken for it.
inline bool is_meth_o(PyObject* fn) {
    return PyCFunction_CheckExact(fn) && PyCFunction_GET_FLAGS(fn) == METH_O;
}

inline PyObject* call_one(PyObject* fn, PyObject* arg) {
    if (is_meth_o(fn)) return PyCFunction_GET_FUNCTION(fn)(PyCFunction_GET_SELF(fn), arg);
    RecursionStep step;
    if (!step.ok()) return nullptr;
    return PyObject_CallOneArg(fn, arg);
}

// A call with the caller's vectorcall arguments, one-argument built-ins entered directly.
inline PyObject* call_vector(PyObject* fn, PyObject* const* args, size_t nargsf,
                             PyObject* kwnames) {
    if (!kwnames && PyVectorcall_NARGS(nargsf) == 1 && is_meth_o(fn))
        return PyCFunction_GET_FUNCTION(fn)(PyCFunction_GET_SELF(fn), args[0]);
    RecursionStep step;
    if (!step.ok()) return nullptr;
    return PyObject_Vectorcall(fn, args, nargsf, kwnames);
}

}  // namespace tv::fn
