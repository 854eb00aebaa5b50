// Chaining callables: compose, compose_left (the Compose type), pipe, thread_first and
// thread_last.
#include "fntools/fntools.hpp"

#include "utils/binder.hpp"
#include "utils/signals.hpp"

#include <vector>

namespace tv::fn {

namespace {

// The first function takes the call's arguments as they came; each later one takes the
// previous result.
PyObject* compose_call(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    auto* o = (FuncsObject*)self;
    Py_ssize_t n = Py_SIZE(self);
    if (n == 0) {
        PyErr_SetString(PyExc_TypeError, "compose of nothing");
        return nullptr;
    }
    Ref r = steal(nested_vectorcall(o->funcs[0], args, nargsf, kwnames));
    // Millions of builtins in a chain never pass through the eval loop's signal check.
    SignalPoll poll;
    for (Py_ssize_t i = 1; r && i < n; ++i) {
        if (!poll.ok()) return nullptr;
        r = steal(nested_call(o->funcs[i], r.get()));
    }
    return r ? r.release() : ffi_err();
}

// Pickles as compose_left over the functions in application order.
PyObject* compose_reduce(PyObject* self, PyObject*) {
    Ref funcs = steal(funcs_list(self));
    if (!funcs) return nullptr;
    return reduce_to("compose_left", PyList_AsTuple(funcs.get()));
}

PyTypeObject* compose_type() {
    static TypeCell type;
    return callable_type(type, funcs_kind("tarvel._tarvel.Compose", TV_GUARDED(compose_reduce)));
}

PyObject* compose_impl(const Args& a, bool reverse) {
    if (a.nrest == 0) {
        // The module's own identity function: pickling looks it up by name and insists on
        // finding this very object.
        Ref ident = steal(PyObject_GetAttrString(a.self, "identity"));
        if (ident && PyCFunction_Check(ident.get()) &&
            ((PyCFunctionObject*)ident.get())->m_ml == identity_def())
            return ident.release();
        if (!ident && !discard_matching(PyExc_AttributeError)) return nullptr;
        // Deleted or replaced on the module: an equal function, bound the same way.
        Ref modname = steal(PyModule_GetNameObject(a.self));
        if (!modname) return ffi_err();
        return PyCMethod_New(identity_def(), a.self, modname.get(), nullptr);
    }
    PyTypeObject* tp = compose_type();
    if (!tp) return nullptr;
    return funcs_new(tp, TV_GUARDED(compose_call), a.rest, a.nrest, reverse);
}

// Each form is a callable or a tuple (callable, extra...); the running value goes first or
// last among the extras.
PyObject* thread(PyObject* val, PyObject* const* forms, Py_ssize_t n, bool last) {
    Ref value = borrow(val);
    std::vector<PyObject*> big;
    SignalPoll poll;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!poll.ok()) return nullptr;
        PyObject* form = forms[i];
        if (!PyTuple_Check(form)) {
            value = steal(nested_call(form, value.get()));
            if (!value) return ffi_err();
            continue;
        }
        Py_ssize_t m = PyTuple_GET_SIZE(form);
        if (m == 0) {
            PyErr_SetString(PyExc_IndexError, "tuple index out of range");
            return nullptr;
        }
        // One spare slot in front lets the callee reuse the array for a bound method.
        PyObject* small[8];
        PyObject** buf = small;
        if (m + 1 > (Py_ssize_t)std::size(small)) {
            big.resize((size_t)m + 1);
            buf = big.data();
        }
        PyObject** argv = buf + 1;
        PyObject** extra = last ? argv : argv + 1;
        for (Py_ssize_t k = 1; k < m; ++k) extra[k - 1] = PyTuple_GET_ITEM(form, k);
        argv[last ? m - 1 : 0] = value.get();
        value = steal(nested_vectorcall(PyTuple_GET_ITEM(form, 0), argv,
                                  (size_t)m | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
        if (!value) return ffi_err();
    }
    return value.release();
}

}  // namespace

}  // namespace tv::fn

using namespace tv;
using namespace tv::fn;

TV_FUNCTION(compose, "compose(*funcs)") { return compose_impl(a, true); }

TV_FUNCTION(compose_left, "compose_left(*funcs)") { return compose_impl(a, false); }

TV_FUNCTION(pipe, "pipe(data, *funcs)") {
    Ref value = borrow(a[0]);
    SignalPoll poll;
    for (Py_ssize_t i = 0; i < a.nrest; ++i) {
        if (!poll.ok()) return nullptr;
        value = steal(nested_call(a.rest[i], value.get()));
        if (!value) return ffi_err();
    }
    return value.release();
}

TV_FUNCTION(thread_first, "thread_first(val, *forms)") {
    return thread(a[0], a.rest, a.nrest, false);
}

TV_FUNCTION(thread_last, "thread_last(val, *forms)") {
    return thread(a[0], a.rest, a.nrest, true);
}
