#include "utils/errors.hpp"

namespace tv {

PyObject* ffi_err() noexcept {
    if (!PyErr_Occurred())
        PyErr_SetString(PyExc_SystemError, "FFI call failed without setting an exception");
    return nullptr;
}

PyObject* panic_type() noexcept {
    // Filled once under the interpreter lock; never released.
    static PyObject* type = nullptr;
    if (!type)
        type = PyErr_NewExceptionWithDoc("tarvel._tarvel.PanicException",
                                         "Internal error of the tarvel extension.",
                                         PyExc_BaseException, nullptr);
    return type;
}

PyObject* panic(const char* msg) noexcept {
    PyObject* t = panic_type();
    if (t) PyErr_SetString(t, msg);
    return nullptr;
}

namespace {

// A PanicException that travelled up through user code: show where it came from, then
// continue it as our own internal error with the same message.
bool rethrow_if_panic() noexcept {
    PyObject* t = panic_type();
    if (!t) return true;  // cannot even tell: treat as unhandleable
    PyObject* exc = PyErr_GetRaisedException();
    if (!exc) return false;
    if (Py_TYPE(exc) != (PyTypeObject*)t) {
        PyErr_SetRaisedException(exc);
        return false;
    }
    Ref msg = steal(PyObject_Str(exc));
    const char* text = msg ? PyUnicode_AsUTF8(msg.get()) : nullptr;
    if (!text) {
        PyErr_Clear();
        text = "Unwrapped panic from Python code";
    }
    Ref keep = msg.dup();  // text may point into msg
    PySys_WriteStderr("tarvel: a panic passed through Python code:\n");
    PyErr_SetRaisedException(exc);
    PyErr_PrintEx(0);
    panic(text);
    return true;
}

}  // namespace

bool pending_matches(PyObject* type) noexcept {
    PyObject* cur = PyErr_Occurred();
    if (!cur) return false;
    if (cur == panic_type()) {
        rethrow_if_panic();
        return false;
    }
    return PyErr_GivenExceptionMatches(cur, type);
}

bool is_lookup_error() noexcept {
    PyObject* cur = PyErr_Occurred();
    if (!cur) return false;
    if (cur == panic_type()) {
        rethrow_if_panic();
        return false;
    }
    return PyErr_GivenExceptionMatches(cur, PyExc_KeyError) ||
           PyErr_GivenExceptionMatches(cur, PyExc_IndexError) ||
           PyErr_GivenExceptionMatches(cur, PyExc_TypeError);
}

PyObject* not_an_instance(PyObject* o, const char* expected) noexcept {
    if (o == Py_None)
        return PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
    Ref qual = steal(PyType_GetQualName(Py_TYPE(o)));
    if (!qual) return ffi_err();
    return PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", qual.get(),
                        expected);
}

PyObject* stop_iteration() noexcept {
    PyErr_SetNone(PyExc_StopIteration);
    return nullptr;
}

}  // namespace tv
