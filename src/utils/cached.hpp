// Standard-library objects imported on first use and kept for the life of the process.
#pragma once
#include "utils/once.hpp"

namespace tv {

struct CachedAttr {
    const char* module;
    const char* path;  // dotted attribute path inside the module
    OnceCell cell;
};

extern CachedAttr ISLICE, CHAIN, CHAIN_FROM_ITERABLE, SEQUENCE_ABC, BUILTINS_MAP, SIGNATURE;

// The cached object (borrowed), or nullptr with the import's exception set.
PyObject* cached_attr(CachedAttr& c);

// An attribute read afresh on every use from a module kept for the life of the process:
// callers see the attribute as it is now (a patched builtins.map is what runs) without
// paying for an import per call.
struct ModuleAttr {
    CachedAttr module;  // its path is nullptr: the module object itself
    const char* name;
    OnceCell name_str;  // the interned attribute name
};

// module.name as it is now (a new reference), or an empty Ref with the exception set.
Ref module_attr(ModuleAttr& m);

// A fresh (uncached) lookup of module.attr; a new reference.
Ref import_attr(const char* module, const char* path);

}  // namespace tv
