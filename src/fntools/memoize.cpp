// memoize: results of a function remembered in a dict, under a key rule chosen once from
// the function's signature.
#include "fntools/fntools.hpp"

#include "utils/binder.hpp"
#include "utils/cached.hpp"

#include <vector>

namespace tv::fn {

namespace {

struct MemoizeObject {
    RefsObject<3> refs;  // key (optional), func, cache
    bool single_arg;         // exactly one required positional parameter and nothing else
    bool flexible_signature;  // defaults, keyword-only, **kwargs, or no signature at all
};

// Writes past any Python-level __setitem__ of a dict subclass, but through the C
// implementation of the nearest built-in base: a base that keeps bookkeeping beside the
// dict's own table (OrderedDict's linked list) must see every entry, or iterating or
// copying the cache would miss them.
int cache_store(PyObject* cache, PyObject* key, PyObject* value) {
    if (PyDict_CheckExact(cache)) return PyDict_SetItem(cache, key, value);
    PyTypeObject* base = Py_TYPE(cache);
    while (base && (base->tp_flags & Py_TPFLAGS_HEAPTYPE)) base = base->tp_base;
    objobjargproc dict_store = PyDict_Type.tp_as_mapping->mp_ass_subscript;
    objobjargproc store = base && base->tp_as_mapping ? base->tp_as_mapping->mp_ass_subscript
                                                      : nullptr;
    if (!store || store == dict_store) return PyDict_SetItem(cache, key, value);
    return store(cache, key, value);
}

// frozenset(iter(kw.items())), through the builtins module's current frozenset.
Ref frozen(PyObject* kw) {
    Ref items = steal(PyDict_Items(kw));
    Ref it = items ? steal(PyObject_GetIter(items.get())) : Ref();
    if (!it) return Ref();
    Ref fs = import_attr("builtins", "frozenset");
    if (!fs) return Ref();
    return steal(PyObject_CallOneArg(fs.get(), it.get()));
}

// The call's keyword arguments as a new dict.
Ref kw_dict(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Ref kw = steal(PyDict_New());
    if (!kw) return kw;
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(kwnames); ++k)
        if (PyDict_SetItem(kw.get(), PyTuple_GET_ITEM(kwnames, k), args[nargs + k]) < 0)
            return Ref();
    return kw;
}

Ref memo_key(MemoizeObject* o, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    Ref a = steal(PyTuple_New(nargs));
    if (!a) return a;
    for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(a.get(), i, Py_NewRef(args[i]));
    Ref kw;
    if (nkw) {
        kw = kw_dict(args, nargs, kwnames);
        if (!kw) return kw;
    }
    if (PyObject* key_fn = o->refs.ref[0]) {
        PyObject* kw_arg = kw ? kw.get() : Py_None;
        Ref keep = borrow(key_fn);
        return steal(PyObject_CallFunctionObjArgs(key_fn, a.get(), kw_arg, nullptr));
    }
    Ref fk;
    if (nkw) {
        fk = frozen(kw.get());
        if (!fk) return fk;
    }
    if (o->flexible_signature) {
        PyObject* first = nargs ? a.get() : Py_None;
        return steal(PyTuple_Pack(2, first, fk ? fk.get() : Py_None));
    }
    if (!nkw) return a;
    return steal(PyTuple_Pack(2, a.get(), fk.get()));
}

PyObject* memo_call(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    auto* o = (MemoizeObject*)self;
    PyObject *func = o->refs.ref[1], *cache = o->refs.ref[2];
    if (!func) return panic("memoize object used after it was cleared");
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    Ref key;
    if (o->single_arg && !o->refs.ref[0] && nargs == 1 && nkw == 0) {
        key = borrow(args[0]);
    } else {
        key = memo_key(o, args, nargs, kwnames);
        if (!key) return ffi_err();
    }
    Ref keep_cache = borrow(cache);
    PyObject* hit = nullptr;
    int found = PyDict_GetItemRef(cache, key.get(), &hit);
    if (found < 0) return ffi_err();
    if (found) return hit;
    Ref keep_func = borrow(func);
    RecursionStep step;
    if (!step.ok()) return nullptr;
    Ref r = steal(PyObject_Vectorcall(func, args, nargsf, kwnames));
    if (!r) return ffi_err();
    if (cache_store(cache, key.get(), r.get()) < 0) return ffi_err();
    return r.release();
}

PyObject* memoize_reduce(PyObject* self, PyObject*) {
    auto* o = (MemoizeObject*)self;
    PyObject *key = o->refs.ref[0], *func = o->refs.ref[1];
    if (!func) return panic("memoize object used after it was cleared");
    return reduce_to("memoize", PyTuple_Pack(3, func, Py_None, key ? key : Py_None));
}

PyTypeObject* memoize_type() {
    static TypeCell type;
    return callable_type(type, refs_kind<3>("tarvel._tarvel.Memoize", TV_GUARDED(memoize_reduce),
                                            sizeof(MemoizeObject)));
}

struct KeyRule {
    bool single_arg = false;
    bool flexible_signature = true;
};

// Reads the key rule from the signature of `func`; false with an exception set on failure.
bool examine(PyObject* func, KeyRule& rule) {
    Ref sig = signature_of(func);
    std::vector<SigParam> params;
    if (!sig || read_params(sig.get(), params, false) < 0) return false;
    bool varargs = false, flexible = false;
    int required = 0;
    for (const SigParam& p : params) {
        if (p.kind == VarPos) varargs = true;
        if (p.has_default || p.kind == KwOnly || p.kind == VarKw) flexible = true;
        else if (p.kind == PosOnly || p.kind == PosOrKw) ++required;
    }
    rule.flexible_signature = flexible;
    rule.single_arg = required == 1 && !varargs && !flexible;
    return true;
}

// The argument error of a `cache` that is not a dict, in the binder's own form.
PyObject* reject_cache(PyObject* cache) {
    not_an_instance(cache, "dict");
    return note_param("cache");
}

}  // namespace

}  // namespace tv::fn

using namespace tv;
using namespace tv::fn;

TV_FUNCTION(memoize, "memoize(func, cache=None, key=None)") {
    PyObject *func = a[0], *cache = a[1], *key = a[2];
    if (cache != Py_None && !PyDict_Check(cache)) return reject_cache(cache);
    KeyRule rule;
    if (!examine(func, rule)) {
        if (!discard_ordinary_error()) return nullptr;
        rule = KeyRule{};
    }
    Ref own;
    if (cache == Py_None) {
        own = steal(PyDict_New());
        if (!own) return ffi_err();
        cache = own.get();
    }
    PyTypeObject* tp = memoize_type();
    if (!tp) return nullptr;
    PyObject* self = refs_new<3>(tp, TV_GUARDED(memo_call),
                                 {key == Py_None ? nullptr : key, func, cache});
    if (!self) return nullptr;
    ((MemoizeObject*)self)->single_arg = rule.single_arg;
    ((MemoizeObject*)self)->flexible_signature = rule.flexible_signature;
    return self;
}
