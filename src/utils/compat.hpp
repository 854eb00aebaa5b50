// The one place where differences between the supported interpreters are papered over.
// Everything else in the tree is written against the 3.13 C API.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if PY_VERSION_HEX < 0x030B0000
#error "tarvel needs CPython 3.11 or newer"
#endif

#if PY_VERSION_HEX < 0x030C0000
// 3.11 keeps the (type, value, traceback) triple; normalise it into one exception object.
static inline PyObject* PyErr_GetRaisedException(void) {
    PyObject *t, *v, *tb;
    PyErr_Fetch(&t, &v, &tb);
    if (!t) return nullptr;
    PyErr_NormalizeException(&t, &v, &tb);
    if (tb) PyException_SetTraceback(v, tb);
    Py_XDECREF(t);
    Py_XDECREF(tb);
    return v;
}
static inline void PyErr_SetRaisedException(PyObject* exc) {
    if (!exc) return;
    PyObject* tb = PyException_GetTraceback(exc);
    PyErr_Restore(Py_NewRef((PyObject*)Py_TYPE(exc)), exc, tb);
}
#endif

#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>  // PyMemberDef and its flags lived here before 3.12
#define Py_T_OBJECT_EX T_OBJECT_EX
#define Py_T_PYSSIZET T_PYSSIZET
#define Py_READONLY READONLY
#endif

#if PY_VERSION_HEX < 0x030D0000
// Before 3.13 the module name of a type is only reachable through its __module__ attribute.
static inline PyObject* PyType_GetModuleName(PyTypeObject* tp) {
    return PyObject_GetAttrString((PyObject*)tp, "__module__");
}
#endif

#if PY_VERSION_HEX < 0x030D0000
// hasattr() without swallowing errors other than AttributeError: 1, 0, or -1 with an error.
static inline int PyObject_HasAttrWithError(PyObject* o, PyObject* name) {
    PyObject* r;
    int rc = _PyObject_LookupAttr(o, name, &r);
    Py_XDECREF(r);
    return rc;
}
#endif

// The integer fast hash reads the 3.12+ compact-integer layout (lv_tag + first digit).
#if PY_VERSION_HEX >= 0x030C0000
#define TV_HAVE_LV_TAG 1
#else
#define TV_HAVE_LV_TAG 0
#endif

// Free-threaded builds (no interpreter lock). Every choice that differs between the two kinds
// of build is made at compile time on this one macro; see utils/threading.hpp.
#ifdef Py_GIL_DISABLED
#define TV_FREE_THREADED 1
#else
#define TV_FREE_THREADED 0
#endif

#if TV_FREE_THREADED
// Whether nothing but the caller's one reference holds `o`, by the interpreter's own test on
// free-threaded builds (the one by which zip and enumerate reuse their result tuple): owned
// by the calling thread, one local reference and no shared ones. A reference another thread
// took is counted as shared, so it is never missed.
static inline bool tv_uniquely_referenced(PyObject* o) {
#if PY_VERSION_HEX >= 0x030E0000
    return PyUnstable_Object_IsUniquelyReferenced(o);
#else
    return _Py_IsOwnedByCurrentThread(o) &&
           __atomic_load_n(&o->ob_ref_local, __ATOMIC_RELAXED) == 1 &&
           __atomic_load_n(&o->ob_ref_shared, __ATOMIC_RELAXED) == 0;
#endif
}
#endif

#if PY_VERSION_HEX < 0x030D0000
// A strong reference to list[i], or nullptr with IndexError set when i is out of range.
static inline PyObject* PyList_GetItemRef(PyObject* list, Py_ssize_t i) {
    return Py_XNewRef(PyList_GetItem(list, i));
}
// 1 with a strong reference in *out, 0 when the key is missing, -1 with an error.
static inline int PyDict_GetItemRef(PyObject* d, PyObject* key, PyObject** out) {
    PyObject* v = PyDict_GetItemWithError(d, key);
    *out = Py_XNewRef(v);
    return v ? 1 : (PyErr_Occurred() ? -1 : 0);
}
#endif

#if PY_VERSION_HEX < 0x030D0000
// Critical sections exist from 3.13; before that the interpreter lock is the only lock.
#define Py_BEGIN_CRITICAL_SECTION(op) {
#define Py_END_CRITICAL_SECTION() }
#define Py_BEGIN_CRITICAL_SECTION2(a, b) {
#define Py_END_CRITICAL_SECTION2() }
#endif
