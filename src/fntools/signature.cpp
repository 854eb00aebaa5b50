// Reading inspect signatures: the one reader behind every tool whose behaviour follows the
// parameters of the callable it is given (curry, memoize).
#include "fntools/fntools.hpp"

#include "utils/cached.hpp"

namespace tv::fn {

namespace {

CachedAttr SIGNATURE{"inspect", "signature", {}};
InternedStr INSPECT{"inspect"};

}  // namespace

Ref inspect_attr(const char* name) {
    // inspect is imported by then (the signature came from it): a lookup in sys.modules.
    PyObject* inspect_name = interned(INSPECT);
    if (!inspect_name) return Ref();
    Ref inspect = steal(PyImport_GetModule(inspect_name));
    if (!inspect) return PyErr_Occurred() ? Ref() : import_attr("inspect", name);
    Ref r = steal(PyObject_GetAttrString(inspect.get(), name));
    if (!r) ffi_err();
    return r;
}

Ref signature_of(PyObject* func) {
    PyObject* signature = cached_attr(SIGNATURE);
    if (!signature) return Ref();
    Ref sig = steal(PyObject_CallOneArg(signature, func));
    if (!sig) ffi_err();
    return sig;
}

int read_params(PyObject* sig, std::vector<SigParam>& out, bool exact) {
    Ref sig_cls = inspect_attr("Signature");
    Ref param_cls = sig_cls ? inspect_attr("Parameter") : Ref();
    if (!param_cls) return -1;
    if (exact && (PyObject*)Py_TYPE(sig) != sig_cls.get()) return 0;
    Ref empty = steal(PyObject_GetAttrString(param_cls.get(), "empty"));
    Ref params = empty ? steal(PyObject_GetAttrString(sig, "parameters")) : Ref();
    Ref values = params ? steal(PyMapping_Values(params.get())) : Ref();
    if (!values) return ffi_err(), -1;
    Py_ssize_t n = PyList_GET_SIZE(values.get());
    out.clear();
    out.reserve((size_t)n);
    for (Py_ssize_t k = 0; k < n; ++k) {
        PyObject* p = PyList_GET_ITEM(values.get(), k);
        if (exact && (PyObject*)Py_TYPE(p) != param_cls.get()) return 0;
        Ref name = steal(PyObject_GetAttrString(p, "name"));
        Ref kind = name ? steal(PyObject_GetAttrString(p, "kind")) : Ref();
        Ref deflt = kind ? steal(PyObject_GetAttrString(p, "default")) : Ref();
        if (!deflt) return ffi_err(), -1;
        long kv = PyLong_AsLong(kind.get());
        if (kv == -1 && PyErr_Occurred()) return -1;
        if (kv < PosOnly || kv > VarKw || !PyUnicode_CheckExact(name.get())) {
            if (exact) return 0;
            PyErr_SetString(PyExc_ValueError, "unexpected parameter in a signature");
            return -1;
        }
        out.push_back({std::move(name), kv, deflt.get() != empty.get()});
    }
    return 1;
}

}  // namespace tv::fn
