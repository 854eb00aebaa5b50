#include "utils/cached.hpp"

#include "utils/errors.hpp"

#include <cstring>
#include <string>

namespace tv {

Ref import_attr(const char* module, const char* path) {
    Ref name = steal(PyUnicode_FromString(module));
    if (!name) return Ref();
    Ref obj = steal(PyImport_Import(name.get()));
    const char* p = path;
    while (obj && p) {
        const char* dot = std::strchr(p, '.');
        std::string part = dot ? std::string(p, dot - p) : std::string(p);
        obj = steal(PyObject_GetAttrString(obj.get(), part.c_str()));
        if (!dot) break;
        p = dot + 1;
    }
    if (!obj) ffi_err();
    return obj;
}

PyObject* cached_attr(CachedAttr& c) {
    if (PyObject* v = c.cell.peek()) return v;
    return c.cell.get([&] { return import_attr(c.module, c.path).release(); });
}

Ref module_attr_slow(ModuleAttr& m) {
    if (PyErr_Occurred()) return Ref();  // the fast lookup failed
    PyObject* mod = cached_attr(m.module);
    if (!mod) return Ref();
    PyObject* name = m.name_str.get([&] {
        PyObject* s = PyUnicode_InternFromString(m.name);
        return s ? s : ffi_err();
    });
    if (!name) return Ref();
    if (PyModule_CheckExact(mod) && !m.dict) {
        m.key = name;
        m.dict = PyModule_GetDict(mod);
    }
    Ref r = steal(PyObject_GetAttr(mod, name));
    if (!r) ffi_err();
    return r;
}

}  // namespace tv
