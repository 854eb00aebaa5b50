#include "utils/cached.hpp"

#include "utils/errors.hpp"

#include <pthread.h>

#include <cerrno>
#include <cstring>

namespace tv {

Ref import_attr(const char* module, const char* path) {
    Ref name = steal(PyUnicode_FromString(module));
    if (!name) return Ref();
    Ref obj = steal(PyImport_Import(name.get()));
    const char* p = path;
    while (obj && p) {
        const char* dot = std::strchr(p, '.');
        Py_ssize_t len = dot ? (Py_ssize_t)(dot - p) : (Py_ssize_t)std::strlen(p);
        Ref part = steal(PyUnicode_FromStringAndSize(p, len));
        obj = part ? steal(PyObject_GetAttr(obj.get(), part.get())) : Ref();
        if (!dot) break;
        p = dot + 1;
    }
    if (!obj) ffi_err();
    return obj;
}

namespace {

void forked_child() { fork_generation.fetch_add(1); }

}  // namespace

int watch_forks() noexcept {
    static SharedWord<bool> installed{false};
    if (installed.load(std::memory_order_acquire)) return 0;
    if (int e = pthread_atfork(nullptr, nullptr, forked_child)) {
        errno = e;
        PyErr_SetFromErrno(PyExc_OSError);
        return -1;
    }
    installed.store(true, std::memory_order_release);
    return 0;
}

PyObject* interned_slow(InternedStr& s) {
    return s.cell.get([&] {
        PyObject* v = PyUnicode_InternFromString(s.text);
        return v ? v : ffi_err();
    });
}

PyObject* cached_attr(CachedAttr& c) {
    if (PyObject* v = c.cell.peek()) return v;
    return c.cell.get([&] { return import_attr(c.module, c.path).release(); });
}

Ref live_attr_slow(ModuleAttr& m) {
    if (PyErr_Occurred()) return Ref();  // the fast lookup failed
    PyObject* mod = cached_attr(m.module);
    if (!mod) return Ref();
    PyObject* name = interned(m.name);
    if (!name) return Ref();
    if (PyModule_CheckExact(mod) && !m.dict.load(std::memory_order_acquire)) {
        m.key.store(name, std::memory_order_relaxed);
        m.dict.store(PyModule_GetDict(mod), std::memory_order_release);
    }
    Ref r = steal(PyObject_GetAttr(mod, name));
    if (!r) ffi_err();
    return r;
}

}  // namespace tv
