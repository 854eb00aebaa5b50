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

// A fresh (uncached) lookup of module.attr; a new reference.
Ref import_attr(const char* module, const char* path);

}  // namespace tv
