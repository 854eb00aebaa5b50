// Objects made on first use and kept for the life of the process: interned strs, and
// standard-library objects imported once. Every cell is a OnceCell, so a first use that fails
// (an import error, MemoryError) leaves it empty and the next use tries again. Each family
// defines the cells it uses beside its code:
//
//   InternedStr LEN{"__len__"};
//   CachedAttr ISLICE{"itertools", "islice", {}};
//   ... PyObject* len = interned(LEN); PyObject* islice = cached_attr(ISLICE); ...
#pragma once
#include "utils/once.hpp"
#include "utils/threading.hpp"

namespace tv {

struct InternedStr {
    const char* text;
    OnceCell cell{};
};

PyObject* interned_slow(InternedStr& s);

// The interned str (borrowed), or nullptr with the exception set.
inline PyObject* interned(InternedStr& s) {
    if (PyObject* v = s.cell.peek()) return v;
    return interned_slow(s);
}

struct CachedAttr {
    const char* module;
    const char* path;  // dotted attribute path inside the module
    OnceCell cell;
};

// The cached object (borrowed), or nullptr with the import's exception set.
PyObject* cached_attr(CachedAttr& c);

// An attribute read afresh on every use from a module kept for the life of the process:
// callers see the attribute as it is now (a patched builtins.map is what runs) without
// paying for an import per call.
struct ModuleAttr {
    CachedAttr module;  // its path is nullptr: the module object itself
    InternedStr name;   // the attribute name
    // Once both are known: the dictionary of a plain module (which lives as long as the
    // kept module) and the interned name. `key` is stored first and `dict` published
    // after it, so a reader that sees `dict` sees `key`.
    SharedWord<PyObject*> dict{nullptr};
    SharedWord<PyObject*> key{nullptr};
};

// A fresh (uncached) lookup of module.attr; a new reference.
Ref import_attr(const char* module, const char* path);

Ref live_attr_slow(ModuleAttr& m);

// module.name as it is now (a new reference), or an empty Ref with the exception set.
inline Ref live_attr(ModuleAttr& m) {
    if (PyObject* d = m.dict.load(std::memory_order_acquire)) {
        // A plain module's type defines no attribute by these names, so its dictionary is
        // where the attribute lives: one lookup instead of the generic attribute walk.
        PyObject* v;
        if (PyDict_GetItemRef(d, m.key.load(std::memory_order_relaxed), &v) > 0) return steal(v);
    }
    return live_attr_slow(m);
}

}  // namespace tv
