// curry: gathers positional and keyword arguments for a callable until its signature says
// they are enough, then calls it.
#include "fntools/fntools.hpp"

#include "utils/binder.hpp"
#include "utils/cached.hpp"
#include "utils/call.hpp"
#include "utils/once.hpp"
#include "utils/registry.hpp"
#include "utils/threading.hpp"

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace tv::fn {

namespace {

// What Signature.bind and Signature.bind_partial look at, read once from an exact
// inspect.Signature made of exact inspect.Parameter objects. Answering from this table gives
// the same outcome as calling the two methods, without running their Python code (and
// raising a TypeError to be discarded) on every call of a curried function.
struct BindTable {
    using Param = SigParam;
    std::vector<Param> params;
    // Newer releases of inspect let a positional-only name given as a keyword fall into a
    // **kwargs parameter; older ones reject it wherever it appears.
    bool lenient_pos_only = false;
    // Later still, a required positional-only parameter whose name comes as a keyword is
    // reported missing on the spot, by bind_partial too, even though **kwargs would take the
    // keyword.
    bool required_pos_only_missing = false;

    // 1 when `nargs` positional arguments and the names in `kw` (a dict or nullptr) bind,
    // 0 when they do not, -1 with an exception set.
    int binds(Py_ssize_t nargs, PyObject* kw, bool partial) const;

    // Bit n: n positional arguments alone bind completely. Worked out once, as the calls
    // that complete a curry with positional arguments only are the common ones.
    static constexpr Py_ssize_t kPosKnown = 16;
    uint32_t pos_complete = 0;
    void learn_positional() {
        for (Py_ssize_t n = 0; n < kPosKnown; ++n)
            if (binds(n, nullptr, false) == 1) pos_complete |= 1u << n;
    }
    bool positional_binds(Py_ssize_t nargs) const {
        return nargs < kPosKnown ? (pos_complete >> nargs) & 1 : binds(nargs, nullptr, false) == 1;
    }
};

int BindTable::binds(Py_ssize_t nargs, PyObject* kw, bool partial) const {
    // Mirrors the walk of Signature._bind: positional arguments first, then keywords.
    const size_t n = params.size();
    size_t i = 0, from = 0;
    Py_ssize_t given = 0;
    int found = 0;
    auto in_kw = [&](const Param& p) {
        found = kw ? PyDict_Contains(kw, p.name.get()) : 0;
        return found != 0;
    };
    for (;;) {
        if (given < nargs) {
            if (i == n) return 0;
            const Param& p = params[i++];
            if (p.kind == VarKw || p.kind == KwOnly) return 0;
            if (p.kind == VarPos) {
                from = i;
                break;
            }
            if (p.kind != PosOnly && in_kw(p)) return found < 0 ? -1 : 0;
            ++given;
            continue;
        }
        if (i == n) {
            from = n;
            break;
        }
        const Param& p = params[i++];
        if (p.kind == VarPos) {
            from = i;
            break;
        }
        if (in_kw(p)) {
            if (found < 0) return -1;
            if (p.kind == PosOnly) {
                if (!lenient_pos_only) return 0;
                if (required_pos_only_missing && !p.has_default) return 0;
                continue;  // left in the keywords: only a **kwargs parameter can take it
            }
            from = i - 1;
            break;
        }
        if (p.kind == VarKw || p.has_default || partial) {
            from = i - 1;
            break;
        }
        return 0;
    }
    bool varkw = false;
    Py_ssize_t taken = 0;
    for (size_t j = from; j < n; ++j) {
        const Param& p = params[j];
        if (p.kind == VarKw) {
            varkw = true;
            continue;
        }
        if (p.kind == VarPos) continue;
        if (in_kw(p)) {
            if (found < 0) return -1;
            if (p.kind == PosOnly && !lenient_pos_only) return 0;
            ++taken;
        } else if (!partial && !p.has_default) {
            return 0;
        }
    }
    Py_ssize_t left = (kw ? PyDict_GET_SIZE(kw) : 0) - taken;
    return left == 0 || varkw ? 1 : 0;
}

using TablePtr = std::shared_ptr<const BindTable>;

// The rules this interpreter's inspect follows for positional-only names given as keywords
// (see BindTable), asked once of Signature itself, each with a signature where nothing but
// that rule decides the outcome.
// Two threads may both ask; they store the same answers, `lenient` last (release), so a
// reader that sees it also sees `required_missing`.
struct PosOnlyRules {
    SharedWord<int> lenient{-1};  // -1 until asked (or when asking failed)
    SharedWord<bool> required_missing{false};
};

// 1 when Signature([a: POSITIONAL_ONLY (with `default` unless null), **kw]).`method`(a=1)
// binds, 0 when it raises TypeError, -1 for any other error.
int probe_pos_only(PyObject* sig_cls, PyObject* param_cls, const char* method, PyObject* dflt) {
    Ref po = steal(PyObject_GetAttrString(param_cls, "POSITIONAL_ONLY"));
    Ref vk = steal(PyObject_GetAttrString(param_cls, "VAR_KEYWORD"));
    if (!po || !vk) return -1;
    // A parameter's default is keyword-only.
    Ref pargs = steal(Py_BuildValue("(sO)", "a", po.get()));
    if (!pargs) return -1;
    Ref pkw = dflt ? steal(Py_BuildValue("{s:O}", "default", dflt)) : Ref();
    if (dflt && !pkw) return -1;
    Ref p1 = steal(PyObject_Call(param_cls, pargs.get(), pkw.get()));
    if (!p1) return -1;
    Ref p2 = steal(PyObject_CallFunction(param_cls, "sO", "kw", vk.get()));
    if (!p2) return -1;
    Ref list = steal(PyList_New(2));
    if (!list) return -1;
    PyList_SET_ITEM(list.get(), 0, p1.release());
    PyList_SET_ITEM(list.get(), 1, p2.release());
    Ref sig = steal(PyObject_CallOneArg(sig_cls, list.get()));
    if (!sig) return -1;
    Ref bind = steal(PyObject_GetAttrString(sig.get(), method));
    if (!bind) return -1;
    Ref args = steal(PyTuple_New(0));
    if (!args) return -1;
    Ref kw = steal(Py_BuildValue("{s:i}", "a", 1));
    if (!kw) return -1;
    Ref r = steal(PyObject_Call(bind.get(), args.get(), kw.get()));
    if (!r && !discard_matching(PyExc_TypeError)) return -1;
    return r ? 1 : 0;
}

const PosOnlyRules* pos_only_rules() {
    static PosOnlyRules rules;
    if (rules.lenient.load(std::memory_order_acquire) >= 0) return &rules;
    Ref sig_cls = inspect_attr("Signature");
    Ref param_cls = sig_cls ? inspect_attr("Parameter") : Ref();
    if (!param_cls) return nullptr;
    // With a default nothing is missing: only whether **kwargs may take the name decides.
    int lenient = probe_pos_only(sig_cls.get(), param_cls.get(), "bind", Py_None);
    if (lenient < 0) return nullptr;
    // bind_partial never reports a parameter missing on its own: only the early check can.
    int partial_ok = lenient ? probe_pos_only(sig_cls.get(), param_cls.get(), "bind_partial", nullptr) : 1;
    if (partial_ok < 0) return nullptr;
    rules.required_missing.store(partial_ok == 0, std::memory_order_relaxed);
    rules.lenient.store(lenient, std::memory_order_release);
    return &rules;
}

// The table for `sig`, or nullptr (no exception) when `sig` is not of the plain kind and its
// own methods must be asked.
TablePtr read_table(PyObject* sig) {
    auto table = std::make_shared<BindTable>();
    if (read_params(sig, table->params, true) != 1) return nullptr;
    const PosOnlyRules* rules = pos_only_rules();
    if (!rules) return nullptr;
    table->lenient_pos_only = rules->lenient.load(std::memory_order_acquire) == 1;
    table->required_pos_only_missing = rules->required_missing.load(std::memory_order_relaxed);
    table->learn_positional();
    return table;
}

struct CurryState {
    Ref func;
    Ref args;    // exact tuple
    Ref kwargs;  // exact dict, never mutated
    OnceCell sig;  // a signature object, or None when none could be determined
    TablePtr table;  // written by the resolving call before the cell is published
};

struct CurryObject {
    PyObject_HEAD
    vectorcallfunc vc;
    CurryState st;
};

PyObject* curry_call(PyObject* self, PyObject* const* argv, size_t nargsf, PyObject* kwnames);

PyTypeObject* curry_type();

CurryObject* alloc_curry(PyTypeObject* tp) {
    PyObject* self = tp ? tp->tp_alloc(tp, 0) : nullptr;
    if (!self) return nullptr;
    auto* o = (CurryObject*)self;
    o->vc = TV_GUARDED(curry_call);
    new (&o->st) CurryState();
    return o;
}

PyObject* resolve(CurryState& st, PyObject* func) {
    PyObject* sig = signature_of(func).release();
    if (!sig) {
        // No signature to be had: the function is called with whatever it is given.
        if (!discard_matching(PyExc_ValueError, PyExc_TypeError)) return ffi_err();
        return Py_NewRef(Py_None);
    }
    st.table = read_table(sig);
    if (!discard_ordinary_error()) {
        Py_DECREF(sig);
        return nullptr;
    }
    return sig;
}

// 1 when the signature method `name` accepts the arguments, 0 when it raises TypeError, -1
// for any other error.
int method_binds(PyObject* sig, const char* name, PyObject* args, PyObject* kw) {
    Ref method = steal(PyObject_GetAttrString(sig, name));
    if (!method) return -1;
    Ref r = steal(PyObject_Call(method.get(), args, kw));
    if (r) return 1;
    if (!discard_matching(PyExc_TypeError)) return ffi_err(), -1;
    return 0;
}

// 1 when the gathered arguments call the function (they bind, or can never bind), 0 when
// they only bind partially, -1 with an exception set.
int should_call(PyObject* sig, const BindTable* table, PyObject* args, PyObject* kw) {
    Py_ssize_t n = PyTuple_GET_SIZE(args);
    int full = table ? table->binds(n, kw, false) : method_binds(sig, "bind", args, kw);
    if (full != 0) return full;
    int part = table ? table->binds(n, kw, true) : method_binds(sig, "bind_partial", args, kw);
    return part < 0 ? -1 : !part;
}

PyObject* make_partial(PyObject* func, Ref args, Ref kw, PyObject* sig, TablePtr table) {
    if (!kw) {
        kw = steal(PyDict_New());
        if (!kw) return ffi_err();
    }
    CurryObject* o = alloc_curry(curry_type());
    if (!o) return nullptr;
    o->st.func = borrow(func);
    o->st.args = std::move(args);
    o->st.kwargs = std::move(kw);
    o->st.table = std::move(table);
    o->st.sig.preset(Py_NewRef(sig));
    return (PyObject*)o;
}

// Arguments at most, stored and new, passed on from a stack array.
constexpr Py_ssize_t kStackArgs = 8;

// Anything but a Python function (another curry, a C callable calling back) is called
// through our recursion guard; a Python function's frame takes the guard itself.
[[gnu::noinline]] PyObject* vcall_guarded(PyObject* func, PyObject* const* args, size_t n) {
    RecursionStep step;
    if (!step.ok()) return nullptr;
    return vcall(func, args, n);
}

// Calls func with the stored arguments followed by argv[0..nargs), through its vectorcall
// entry: nothing is built just to be unpacked again.
[[gnu::always_inline]] inline PyObject* call_positional(PyObject* func, PyObject* stored,
                                                        PyObject* const* argv,
                                                        Py_ssize_t nargs) {
    Py_ssize_t nstored = PyTuple_GET_SIZE(stored);
    PyObject* stack[kStackArgs + 1];
    stack[0] = nullptr;
    for (Py_ssize_t i = 0; i < nstored; ++i) stack[1 + i] = PyTuple_GET_ITEM(stored, i);
    for (Py_ssize_t i = 0; i < nargs; ++i) stack[1 + nstored + i] = argv[i];
    size_t n = (size_t)(nstored + nargs) | PY_VECTORCALL_ARGUMENTS_OFFSET;
    if (!PyFunction_Check(func)) return vcall_guarded(func, stack + 1, n);
    PyObject* r = ((PyFunctionObject*)func)->vectorcall(func, stack + 1, n, nullptr);
    return r ? r : ffi_err();
}

// Whether a call adding `nargs` positional arguments (and no keywords) completes a curry
// whose signature is known: the common call, made without gathering anything.
[[gnu::always_inline]] inline bool completes_positionally(const CurryState& st, PyObject* sig,
                                                          Py_ssize_t nargs) {
    Py_ssize_t n = PyTuple_GET_SIZE(st.args.get()) + nargs;
    if (PyDict_GET_SIZE(st.kwargs.get()) || n > kStackArgs) return false;
    const BindTable* table = st.table.get();
    return sig == Py_None || (table && table->positional_binds(n));
}

PyObject* curry_call_gathering(CurryState& st, PyObject* sig, PyObject* const* argv,
                               size_t nargsf, PyObject* kwnames);

PyObject* curry_call(PyObject* self, PyObject* const* argv, size_t nargsf, PyObject* kwnames) {
    CurryState& st = ((CurryObject*)self)->st;
    if (!st.func) return panic("curry object used after it was cleared");
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyObject* sig = st.sig.peek();
    // Nothing between here and the call runs Python code, so the table stays the one the
    // state holds; the state is only ever changed by tp_clear, which the collector never
    // runs on an object that its caller still holds (so func and the arguments are borrowed).
    if (sig && (!kwnames || !PyTuple_GET_SIZE(kwnames)) && completes_positionally(st, sig, nargs))
        return call_positional(st.func.get(), st.args.get(), argv, nargs);
    if (!sig) sig = st.sig.get([&] { return resolve(st, st.func.get()); });
    if (!sig) return nullptr;
    return curry_call_gathering(st, sig, argv, nargsf, kwnames);
}

// Every other call: the arguments gathered into a tuple and a dict, then either the call or
// a new curry holding them.
[[gnu::noinline]] PyObject* curry_call_gathering(CurryState& st, PyObject* sig,
                                                 PyObject* const* argv, size_t nargsf,
                                                 PyObject* kwnames) {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    PyObject* func = st.func.get();
    PyObject* stored = st.args.get();
    Py_ssize_t nstored = PyTuple_GET_SIZE(stored);
    if (!nkw && completes_positionally(st, sig, nargs))
        return call_positional(func, stored, argv, nargs);
    RecursionStep step;
    if (!step.ok()) return nullptr;
    Ref args = steal(PyTuple_New(nstored + nargs));
    if (!args) return ffi_err();
    for (Py_ssize_t i = 0; i < nstored; ++i)
        PyTuple_SET_ITEM(args.get(), i, Py_NewRef(PyTuple_GET_ITEM(stored, i)));
    for (Py_ssize_t i = 0; i < nargs; ++i)
        PyTuple_SET_ITEM(args.get(), nstored + i, Py_NewRef(argv[i]));

    // A keyword given now replaces the same keyword given earlier.
    Ref kw;
    if (nkw || PyDict_GET_SIZE(st.kwargs.get())) {
        kw = steal(PyDict_Copy(st.kwargs.get()));
        if (!kw) return ffi_err();
        for (Py_ssize_t k = 0; k < nkw; ++k)
            if (PyDict_SetItem(kw.get(), PyTuple_GET_ITEM(kwnames, k), argv[nargs + k]) < 0)
                return ffi_err();
    }

    if (sig != Py_None) {
        Ref keep = borrow(sig);
        TablePtr table = st.table;
        int call = should_call(sig, table.get(), args.get(), kw.get());
        if (call < 0) return nullptr;
        if (!call) return make_partial(func, std::move(args), std::move(kw), sig, table);
    }
    PyObject* r = PyObject_Call(func, args.get(), kw.get());
    return r ? r : ffi_err();
}

Sig& new_sig() {
    static Sig sig("curry(func, *args, **kwargs)", nullptr, {});
    return sig;
}

PyObject* curry_tp_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
    Args a;
    if (!new_sig().bind_tuple(a, nullptr, args, kwargs)) return nullptr;
    Ref rest = a.rest_tuple();
    if (!rest) return ffi_err();
    Ref kw = std::move(a.kwargs);
    if (!kw) {
        kw = steal(PyDict_New());
        if (!kw) return ffi_err();
    }
    CurryObject* o = alloc_curry(tp);
    if (!o) return nullptr;
    o->st.func = borrow(a[0]);
    o->st.args = std::move(rest);
    o->st.kwargs = std::move(kw);
    return (PyObject*)o;
}

int curry_traverse(PyObject* self, visitproc visit, void* arg) {
    CurryState& st = ((CurryObject*)self)->st;
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(st.func.get());
    Py_VISIT(st.args.get());
    Py_VISIT(st.kwargs.get());
    Py_VISIT(st.sig.peek());
    return 0;
}

int curry_clear(PyObject* self) {
    CurryState& st = ((CurryObject*)self)->st;
    st.func.reset();
    st.args.reset();
    st.kwargs.reset();
    st.sig.clear();
    st.table.reset();
    return 0;
}

void curry_release(PyObject* self) {
    curry_clear(self);
    ((CurryObject*)self)->st.~CurryState();
}

// "curry(<func>, arg, ..., key=value, ...)".
PyObject* curry_repr(PyObject* self) {
    CurryState& st = ((CurryObject*)self)->st;
    int rc = Py_ReprEnter(self);
    if (rc != 0) return rc > 0 ? PyUnicode_FromString("curry(...)") : nullptr;
    struct Leave {
        PyObject* o;
        ~Leave() { Py_ReprLeave(o); }
    } leave{self};
    if (!st.func) return PyUnicode_FromString("curry()");
    Ref parts = steal(PyList_New(0));
    if (!parts) return ffi_err();
    auto add = [&](PyObject* s) { return s && PyList_Append(parts.get(), Ref::steal(s).get()) == 0; };
    if (!add(PyObject_Repr(st.func.get()))) return ffi_err();
    Ref args = st.args.dup();
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args.get()); ++i)
        if (!add(PyObject_Repr(PyTuple_GET_ITEM(args.get(), i)))) return ffi_err();
    Ref items = steal(PyDict_Items(st.kwargs.get()));
    if (!items) return ffi_err();
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* kv = PyList_GET_ITEM(items.get(), i);
        if (!add(PyUnicode_FromFormat("%S=%R", PyTuple_GET_ITEM(kv, 0), PyTuple_GET_ITEM(kv, 1))))
            return ffi_err();
    }
    Ref sep = steal(PyUnicode_FromString(", "));
    Ref body = sep ? steal(PyUnicode_Join(sep.get(), parts.get())) : Ref();
    if (!body) return ffi_err();
    return PyUnicode_FromFormat("curry(%U)", body.get());
}

// Pickles as a constructor call; the signature is resolved afresh after loading. The plain
// flip function is no module attribute of its own, so curries around it are rebuilt from
// the module's `flip`.
PyObject* curry_reduce(PyObject* self, PyObject*) {
    CurryState& st = ((CurryObject*)self)->st;
    if (!st.func) return panic("curry object used after it was cleared");
    bool has_kw = PyDict_GET_SIZE(st.kwargs.get()) != 0;
    if (is_plain_flip(st.func.get())) {
        Ref flip = own_module_attr("flip");
        if (!flip) return nullptr;
        if (flip.get() == self) return PyUnicode_FromString("flip");
        if (!has_kw) return PyTuple_Pack(2, flip.get(), st.args.get());
        Ref partial = import_attr("functools", "partial");
        if (!partial) return nullptr;
        PyObject* pargs[] = {flip.get()};
        Ref fn = steal(PyObject_VectorcallDict(partial.get(), pargs, 1, st.kwargs.get()));
        if (!fn) return ffi_err();
        return PyTuple_Pack(2, fn.get(), st.args.get());
    }
    Ref head = steal(PyTuple_Pack(1, st.func.get()));
    Ref args = head ? steal(PySequence_Concat(head.get(), st.args.get())) : Ref();
    if (!args) return ffi_err();
    PyObject* tp = (PyObject*)Py_TYPE(self);
    if (!has_kw) return PyTuple_Pack(2, tp, args.get());
    Ref newobj = import_attr("copyreg", "__newobj_ex__");
    if (!newobj) return nullptr;
    Ref kw = steal(PyDict_Copy(st.kwargs.get()));
    if (!kw) return ffi_err();
    Ref ctor = steal(PyTuple_Pack(3, tp, args.get(), kw.get()));
    if (!ctor) return ffi_err();
    return PyTuple_Pack(2, newobj.get(), ctor.get());
}

PyTypeObject* curry_type() {
    static TypeCell type;
    CallableKind kind = {"tarvel._tarvel.curry", sizeof(CurryObject), 0,
                         (Py_ssize_t)offsetof(CurryObject, vc), TV_GUARDED(curry_reduce),
                         gc_dealloc<curry_release>, curry_traverse, curry_clear, true};
    return callable_type(type, kind, {
        {Py_tp_doc, (void*)new_sig().doc()},
        {Py_tp_new, (void*)TV_GUARDED(curry_tp_new)},
        {Py_tp_repr, (void*)TV_GUARDED(curry_repr)},
    });
}

TV_REGISTER("curry", type_maker<curry_type>);

}  // namespace

PyObject* curry_new(PyObject* func, PyObject* args, PyObject* kwargs) {
    CurryObject* o = alloc_curry(curry_type());
    if (!o) return nullptr;
    o->st.func = borrow(func);
    o->st.args = borrow(args);
    o->st.kwargs = borrow(kwargs);
    return (PyObject*)o;
}

}  // namespace tv::fn
