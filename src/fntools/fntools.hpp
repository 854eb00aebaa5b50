// The function tools: curry, composition and threading, the small combinators, memoize.
// Their callable objects are immutable heap types called through vectorcall; each pickles
// by reducing to the registered module function that builds it.
#pragma once
#include "utils/errors.hpp"
#include "utils/heap_type.hpp"

#include <cstddef>
#include <initializer_list>
#include <vector>

namespace tv::fn {

// A new curry object of the exact type: `args` a tuple, `kwargs` a dict (both borrowed),
// signature not yet resolved.
PyObject* curry_new(PyObject* func, PyObject* args, PyObject* kwargs);

// The method definition behind the module's `identity`.
PyMethodDef* identity_def();

// The module function or attribute `name` of tarvel._tarvel, for pickling by reference.
Ref own_module_attr(const char* name);

// What distinguishes one callable type of the family from another. Every one is called
// through the vectorcall entry stored at `vc_offset` of its instances and pickles through
// `reduce`.
struct CallableKind {
    const char* qualname;  // "tarvel._tarvel.Juxt"
    int basicsize, itemsize;
    Py_ssize_t vc_offset;
    PyCFunction reduce;
    destructor dealloc;
    traverseproc traverse;
    inquiry clear;
    bool instantiable = false;  // a class of the module (it then gives tp_new in `extra`)
};

// The type for `kind`, created in `slot` on first need with the slots in `extra` added
// (tp_new, tp_repr, tp_doc). Borrowed; nullptr with an exception set.
PyTypeObject* callable_type(TypeCell& slot, const CallableKind& kind,
                            std::initializer_list<PyType_Slot> extra = {}) noexcept;

// The kinds for the two object layouts below.
CallableKind funcs_kind(const char* qualname, PyCFunction reduce);
template <int N>
CallableKind refs_kind(const char* qualname, PyCFunction reduce, int basicsize);

// Parameter kinds, numbered as inspect numbers them.
enum Kind : long { PosOnly = 0, PosOrKw = 1, VarPos = 2, KwOnly = 3, VarKw = 4 };

// One parameter of a signature.
struct SigParam {
    Ref name;
    long kind;
    bool has_default;
};

// inspect.signature(func), through the cached function; empty with its exception set.
Ref signature_of(PyObject* func);
// An attribute of the inspect module (Signature, Parameter); empty with an exception set.
Ref inspect_attr(const char* name);
// The parameters of the signature object `sig`, in order: 1 when read, -1 with an exception
// set. With `exact`, 0 (no exception) when `sig` is not an exact inspect.Signature of exact
// inspect.Parameter objects, whose own methods must then be asked instead.
int read_params(PyObject* sig, std::vector<SigParam>& out, bool exact);

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
CallableKind refs_kind(const char* qualname, PyCFunction reduce, int basicsize) {
    return {qualname, basicsize, 0, (Py_ssize_t)offsetof(RefsObject<N>, vc), reduce,
            gc_dealloc<refs_clear<N>>, refs_traverse<N>, refs_clear<N>};
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

// Calls made by a callable of this family (a composition, a juxt, a pipe step): they nest
// when the callables nest, so each generic call takes a recursion step; compare
// direct_call (utils/call.hpp) for callbacks called from a flat native loop.
// fn(arg): a new reference, or nullptr with an exception set.
inline PyObject* nested_call(PyObject* fn, PyObject* arg) {
    if (is_meth_o(fn)) return PyCFunction_GET_FUNCTION(fn)(PyCFunction_GET_SELF(fn), arg);
    RecursionStep step;
    if (!step.ok()) return nullptr;
    return PyObject_CallOneArg(fn, arg);
}

// The same with the caller's vectorcall arguments.
inline PyObject* nested_vectorcall(PyObject* fn, PyObject* const* args, size_t nargsf,
                                   PyObject* kwnames) {
    if (!kwnames && PyVectorcall_NARGS(nargsf) == 1 && is_meth_o(fn))
        return PyCFunction_GET_FUNCTION(fn)(PyCFunction_GET_SELF(fn), args[0]);
    RecursionStep step;
    if (!step.ok()) return nullptr;
    return PyObject_Vectorcall(fn, args, nargsf, kwnames);
}

}  // namespace tv::fn
