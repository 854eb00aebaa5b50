#include "utils/errors.hpp"

namespace tv {

namespace {

// Filled once by the first module initialisation, under the interpreter lock; never
// released (the module refuses subinterpreters, so one interpreter owns it).
PyObject* g_panic_type = nullptr;

}  // namespace

PyObject* ffi_err() noexcept {
    if (!PyErr_Occurred())
        PyErr_SetString(PyExc_SystemError, "FFI call failed without setting an exception");
    return nullptr;
}

int init_panic_type() noexcept {
    if (g_panic_type) return 0;
    g_panic_type = PyErr_NewExceptionWithDoc("tarvel._tarvel.PanicException",
                                             "Internal error of the tarvel extension.",
                                             PyExc_BaseException, nullptr);
    return g_panic_type ? 0 : -1;
}

PyObject* panic_type() noexcept { return g_panic_type; }

PyObject* panic(const char* msg) noexcept {
    // Before initialisation (which cannot happen for code the module's entries run) there
    // is no class to raise; an internal error must still be an error.
    PyErr_SetString(g_panic_type ? g_panic_type : PyExc_SystemError, msg);
    return nullptr;
}

namespace {

// A PanicException that travelled up through user code: show where it came from, then
// continue it as our own internal error with the same message. True when it was one.
bool rethrow_if_panic() noexcept {
    PyObject* cur = PyErr_Occurred();
    if (!cur || !g_panic_type || cur != g_panic_type) return false;
    PyObject* exc = PyErr_GetRaisedException();
    Ref msg = steal(PyObject_Str(exc));
    const char* text = msg ? PyUnicode_AsUTF8(msg.get()) : nullptr;
    if (!text) {
        PyErr_Clear();
        text = "Unwrapped panic from Python code";
    }
    PySys_WriteStderr("tarvel: a panic passed through Python code:\n");
    PyErr_SetRaisedException(exc);
    PyErr_PrintEx(0);
    panic(text);
    return true;
}

// Exception matching with tuples walked under the interpreter's recursion limit: the
// interpreter's own matcher recurses into nested tuples with no limit at all.
// 1 match, 0 no match, -1 with RecursionError set.
int matches(PyObject* exc_type, PyObject* type) noexcept {
    if (!PyTuple_Check(type)) return PyErr_GivenExceptionMatches(exc_type, type);
    if (Py_EnterRecursiveCall(" while matching an exception tuple")) return -1;
    int r = 0;
    Ref keep = borrow(type);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(type) && r == 0; ++i)
        r = matches(exc_type, PyTuple_GET_ITEM(type, i));
    Py_LeaveRecursiveCall();
    return r;
}

}  // namespace

bool discard_ordinary_error() noexcept {
    PyObject* cur = PyErr_Occurred();
    if (!cur) return true;
    if (rethrow_if_panic()) return false;
    if (!PyErr_GivenExceptionMatches(cur, PyExc_Exception)) return false;
    PyErr_Clear();
    return true;
}

bool discard_lookup_error() noexcept {
    PyObject* cur = PyErr_Occurred();
    if (!cur || rethrow_if_panic()) return false;
    if (!PyErr_GivenExceptionMatches(cur, PyExc_KeyError) &&
        !PyErr_GivenExceptionMatches(cur, PyExc_IndexError) &&
        !PyErr_GivenExceptionMatches(cur, PyExc_TypeError))
        return false;
    PyErr_Clear();
    return true;
}

bool discard_matching(PyObject* type, PyObject* other) noexcept {
    PyObject* cur = PyErr_Occurred();
    if (!cur || rethrow_if_panic()) return false;
    if (!PyErr_GivenExceptionMatches(cur, type) &&
        !(other && PyErr_GivenExceptionMatches(cur, other)))
        return false;
    PyErr_Clear();
    return true;
}

Ref take_matching(PyObject* type) noexcept {
    PyObject* cur = PyErr_Occurred();
    if (!cur || rethrow_if_panic()) return Ref();
    // Matching may raise (RecursionError), so it runs with nothing pending.
    Ref exc = steal(PyErr_GetRaisedException());
    int m = matches((PyObject*)Py_TYPE(exc.get()), type);
    if (m > 0) return exc;
    if (m < 0) {
        PyObject* err = PyErr_GetRaisedException();
        PyException_SetContext(err, exc.release());
        PyErr_SetRaisedException(err);
        return Ref();
    }
    PyErr_SetRaisedException(exc.release());
    return Ref();
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
