// The module: definition, and registration of every name in its fixed order.
#include "module/module.hpp"

#include "utils/binder.hpp"
#include "utils/once.hpp"
#include "utils/registry.hpp"

#include <cstring>

namespace {

using tv::Ref;

// The order of __all__: the one place that says it. A leading '#' marks an internal type
// that is created here (so that it exists before anything can need it) but not added to
// the module. Every name here must be declared by its family and every declaration must
// have its place here, or the import fails (see check_declarations).
constexpr const char* kOrder[] = {
    "Some", "NothingType", "Option", "Ok", "Err", "Result", "Nothing",
    "first_opt", "last_opt", "nth_opt", "get_opt", "get_in_opt", "peek_opt",
    "NativeIter",
    "count", "first", "second", "last", "nth", "get", "isdistinct", "frequencies", "topk",
    "peek", "take", "drop", "take_nth", "tail", "cons", "concat", "concatv", "interpose",
    "interleave", "sliding_window", "partition", "partition_all", "merge_sorted", "diff",
    "groupby", "countby", "reduceby", "mapcat", "pluck", "remove", "accumulate", "iterate",
    "unique", "join",
    "#InterposeIter", "#SlidingWindowIter", "#UniqueIter", "#UniqueIntIter", "#PluckIter",
    "curry",
    "identity", "apply", "pipe", "do", "compose", "compose_left", "complement", "juxt",
    "excepts", "memoize", "thread_first", "thread_last",
    "flip",
    "merge", "merge_with", "assoc", "dissoc", "assoc_in", "update_in", "get_in", "keymap",
    "valmap", "itemmap", "keyfilter", "valfilter", "itemfilter",
    "Iter",
};

int add_name(PyObject* module, const char* name, PyObject* value) {
    Ref all = tv::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all = tv::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    }
    if (!PyList_Check(all.get())) {
        PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
        return -1;
    }
    Ref key = tv::steal(PyUnicode_FromString(name));
    if (!key || PyList_Append(all.get(), key.get()) < 0) return -1;
    return PyObject_SetAttr(module, key.get(), value);
}

template <size_t N>
bool listed(const char* const (&names)[N], const char* name) {
    for (const char* n : names)
        if (n && std::strcmp(n, name) == 0) return true;
    return false;
}

const tv::Entry* find_entry(const char* name) {
    for (const tv::Entry& e : tv::registered_entries())
        if (std::strcmp(e.name, name) == 0) return &e;
    return nullptr;
}

bool declaration_error(const char* what, const char* name) {
    PyErr_Format(PyExc_ImportError, "tarvel._tarvel: '%s' %s", name, what);
    return false;
}

// The declarations and the order table must agree exactly: a declared name that has no
// place in the order would silently never be exported, and a listed name that nobody
// declares would silently be missing.
bool check_declarations() {
    const auto& entries = tv::registered_entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        const char* name = entries[i].name;
        if (!listed(kOrder, name))
            return declaration_error("is declared but has no place in the module's order", name);
        for (size_t j = 0; j < i; ++j)
            if (std::strcmp(entries[j].name, name) == 0)
                return declaration_error("is declared twice", name);
    }
    for (const char* name : kOrder)
        if (!find_entry(name))
            return declaration_error("is in the module's order but nothing declares it", name);
    return true;
}

int exec_module(PyObject* module) {
    // Type objects, cached standard-library objects and the internal error class are
    // process-wide: shared with a subinterpreter they would outlive it and leave the main
    // interpreter holding objects of a dead one. Legacy subinterpreters ignore the
    // module slot below, so the check is made here as well.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_SetString(PyExc_ImportError,
                        "tarvel._tarvel does not support loading in subinterpreters");
        return -1;
    }
    if (tv::init_panic_type() < 0 || tv::watch_forks() < 0) return -1;
    if (!check_declarations()) return -1;
    Ref modname = tv::steal(PyModule_GetNameObject(module));
    if (!modname) return -1;
    for (const char* name : kOrder) {
        bool internal = name[0] == '#';
        const tv::Entry* e = find_entry(name);
        if (!e) continue;  // not yet built
        Ref value;
        if (e->fn)
            value = tv::steal(PyCMethod_New(&e->fn->def, module, modname.get(), nullptr));
        else
            value = tv::steal(e->make(module));
        if (!value) {
            if (internal && !PyErr_Occurred()) tv::panic("failed to create an iterator type");
            return -1;
        }
        if (!internal && add_name(module, name, value.get()) < 0) return -1;
    }
    // Every class with declared methods has been created by now; one whose table nobody
    // read carries a misspelt class name.
    if (const char* owner = tv::unread_method_owner()) {
        declaration_error("has methods declared but no type reads them", owner);
        return -1;
    }
    return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, (void*)exec_module},
#ifdef Py_mod_multiple_interpreters
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#ifdef Py_mod_gil
#if TV_FREE_THREADED
    // Shared native state is guarded without the lock (utils/threading.hpp).
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#else
    {Py_mod_gil, Py_MOD_GIL_USED},
#endif
#endif
    {0, nullptr},
};

PyModuleDef moduledef = {
    PyModuleDef_HEAD_INIT, "_tarvel", "", 0, nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__tarvel(void) { return PyModuleDef_Init(&moduledef); }
