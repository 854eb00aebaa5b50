// Calls of user callbacks with arguments on a stack array, made through the callee's own
// vectorcall entry when it has one (PyObject_Vectorcall would look up the thread state on
// every call, which costs a TLS access per element in the hot steps). The slot in front of
// the arguments is left free (PY_VECTORCALL_ARGUMENTS_OFFSET) so that a bound method can
// put its receiver there instead of allocating a new argument array.
#pragma once
#include "utils/errors.hpp"

namespace tv {

using FastCFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t);

inline PyObject* vcall(PyObject* f, PyObject* const* args, size_t nargsf) noexcept {
    PyTypeObject* tp = Py_TYPE(f);
    PyObject* r;
    if (tp == &PyCFunction_Type) {
        // A plain fast-call builtin (operator.add, ...) is entered directly, as the
        // interpreter's own specialised call of such builtins does.
        PyMethodDef* ml = ((PyCFunctionObject*)f)->m_ml;
        constexpr int kConv =
            METH_VARARGS | METH_KEYWORDS | METH_NOARGS | METH_O | METH_FASTCALL | METH_METHOD;
        if ((ml->ml_flags & kConv) == METH_FASTCALL) {
            r = ((FastCFunction)(void (*)(void))ml->ml_meth)(PyCFunction_GET_SELF(f), args,
                                                             PyVectorcall_NARGS(nargsf));
            return r ? r : ffi_err();
        }
    }
    if (PyType_HasFeature(tp, Py_TPFLAGS_HAVE_VECTORCALL)) {
        auto fn = *(vectorcallfunc*)((char*)f + tp->tp_vectorcall_offset);
        r = fn ? fn(f, args, nargsf, nullptr) : PyObject_Vectorcall(f, args, nargsf, nullptr);
    } else {
        r = PyObject_Vectorcall(f, args, nargsf, nullptr);
    }
    return r ? r : ffi_err();
}

// Calls of a user callback from a native loop (an iterator step, an accumulation): f(x) or
// f(x, y) through the callee's own entry, with no recursion step of our own (the callee
// counts its own; compare nested_call in the function tools, whose callables nest). A new
// reference, or nullptr with an exception set.
inline PyObject* direct_call(PyObject* f, PyObject* x) noexcept {
    PyObject* stack[2] = {nullptr, x};
    return vcall(f, stack + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET);
}

inline PyObject* direct_call(PyObject* f, PyObject* x, PyObject* y) noexcept {
    PyObject* stack[3] = {nullptr, x, y};
    return vcall(f, stack + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET);
}

}  // namespace tv
