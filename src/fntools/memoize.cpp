// memoize: results of a function remembered in a dict, under a key rule chosen once from
// the function's signature.
#include "fntools/fntools.hpp"

#include "utils/binder.hpp"
#include "utils/cached.hpp"

namespace tv::fn {

namespace {

struct MemoizeObject {
    RefsObject<3> refs;  // key (optional), func, cache
    bool single_arg;         // exactly one required positional parameter and nothing else
    bool flexible_signature;  // defaults, keyword-only, **kwargs, or no signature at all
};

PyTypeObject* memoize_type = nullptr;

#if PY_VERSION_HEX >= 0x030D0000
inline int dict_get_ref(PyObject* d, PyObject* k, PyObject** out) {
    return PyDict_GetItemRef(d, k, out);
}
#else
inline int dict_get_ref(PyObject* d, PyObject* k, PyObject** out) {
    PyObject* v = PyDict_GetItemWithError(d, k);
    *out = Py_XNewRef(v);
    return v ? 1 : (PyErr_Occurred() ? -1 : 0);
}
#endif

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
    int found = dict_get_ref(cache, key.get(), &hit);
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

PyObject* make_memoize_type() {
    static PyMemberDef members[] = {TV_VECTORCALL_MEMBER(RefsObject<3>),
                                    {nullptr, 0, 0, 0, nullptr}};
    static PyMethodDef methods[] = {
        {"__reduce__", (PyCFunction)TV_GUARDED(memoize_reduce), METH_NOARGS, nullptr},
        {nullptr, nullptr, 0, nullptr},
    };
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, (void*)refs_dealloc<3>}, {Py_tp_traverse, (void*)refs_traverse<3>},
        {Py_tp_clear, (void*)refs_clear<3>},     {Py_tp_call, (void*)PyVectorcall_Call},
        {Py_tp_methods, methods},                {Py_tp_members, members},
        {0, nullptr},
    };
    static PyType_Spec spec = {"tarvel._tarvel.Memoize", sizeof(MemoizeObject), 0,
                               TV_CALLABLE_FLAGS | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    return type_once(memoize_type, spec);
}

struct KeyRule {
    bool single_arg = false;
    bool flexible_signature = true;
};

// 1 when `kind == name` (a kind constant of inspect.Parameter), 0 when not, -1 on error.
int kind_is(PyObject* kind, PyObject* param_cls, const char* name) {
    Ref constant = steal(PyObject_GetAttrString(param_cls, name));
    if (!constant) return -1;
    return PyObject_RichCompareBool(kind, constant.get(), Py_EQ);
}

// Reads the key rule from inspect.signature(func); false with an exception set on failure.
bool examine(PyObject* func, KeyRule& rule) {
    Ref inspect = steal(PyImport_ImportModule("inspect"));
    if (!inspect) return false;
    Ref sig = steal(PyObject_CallMethod(inspect.get(), "signature", "O", func));
    if (!sig) return false;
    Ref param_cls = steal(PyObject_GetAttrString(inspect.get(), "Parameter"));
    if (!param_cls) return false;
    Ref empty = steal(PyObject_GetAttrString(param_cls.get(), "empty"));
    Ref params = empty ? steal(PyObject_GetAttrString(sig.get(), "parameters")) : Ref();
    Ref values = params ? steal(PyObject_CallMethod(params.get(), "values", nullptr)) : Ref();
    Ref it = values ? steal(PyObject_GetIter(values.get())) : Ref();
    if (!it) return false;
    bool varargs = false, flexible = false;
    int required = 0;
    while (Ref p = steal(PyIter_Next(it.get()))) {
        Ref kind = steal(PyObject_GetAttrString(p.get(), "kind"));
        Ref deflt = kind ? steal(PyObject_GetAttrString(p.get(), "default")) : Ref();
        if (!deflt) return false;
        int is;
        if ((is = kind_is(kind.get(), param_cls.get(), "VAR_POSITIONAL")) < 0) return false;
        if (is) varargs = true;
        if (deflt.get() != empty.get()) {
            flexible = true;
            continue;
        }
        int kw_only = kind_is(kind.get(), param_cls.get(), "KEYWORD_ONLY");
        if (kw_only == 0) kw_only = kind_is(kind.get(), param_cls.get(), "VAR_KEYWORD");
        if (kw_only < 0) return false;
        if (kw_only) flexible = true;
        int positional = kind_is(kind.get(), param_cls.get(), "POSITIONAL_ONLY");
        if (positional == 0) positional = kind_is(kind.get(), param_cls.get(), "POSITIONAL_OR_KEYWORD");
        if (positional < 0) return false;
        if (positional) ++required;
    }
    if (PyErr_Occurred()) return false;
    rule.flexible_signature = flexible;
    rule.single_arg = required == 1 && !varargs && !flexible;
    return true;
}

// The argument error of a `cache` that is not a dict, in the binder's own form.
PyObject* reject_cache(PyObject* cache) {
    Ref qual = steal(PyType_GetQualName(Py_TYPE(cache)));
    if (!qual) return ffi_err();
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of 'dict'", qual.get());
    PyObject* exc = PyErr_GetRaisedException();
    Ref note = steal(PyUnicode_FromString("while processing 'cache'"));
    Ref r = note ? steal(PyObject_CallMethod(exc, "add_note", "O", note.get())) : Ref();
    if (!r) PyErr_Clear();  // the original error matters more than the note
    PyErr_SetRaisedException(exc);
    return nullptr;
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
    Ref tp = steal(make_memoize_type());
    if (!tp) return nullptr;
    PyObject* self = refs_new<3>((PyTypeObject*)tp.get(), TV_GUARDED(memo_call),
                                 {key == Py_None ? nullptr : key, func, cache});
    if (!self) return nullptr;
    ((MemoizeObject*)self)->single_arg = rule.single_arg;
    ((MemoizeObject*)self)->flexible_signature = rule.flexible_signature;
    return self;
}
