// Iter: a fluent wrapper whose methods chain the sequence tools over the one object it
// wraps. Every method runs the very body of the tool it stands for on that object, so each
// tool's laziness, fast paths and errors carry over unchanged; the lazy ones wrap their
// result in a new Iter.
#include "option/option.hpp"
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/cached.hpp"
#include "utils/heap_type.hpp"
#include "utils/holder.hpp"
#include "utils/call.hpp"
#include "utils/registry.hpp"

namespace tv::it {

namespace {

TypeCell g_iter;

const Sig iter_sig{"Iter(inner)", nullptr, {}};

// The builtins are read on every call, so that a patched builtins.map is the one that runs.
ModuleAttr LIVE_MAP{{"builtins", nullptr, {}}, {"map"}};
ModuleAttr LIVE_FILTER{{"builtins", nullptr, {}}, {"filter"}};
ModuleAttr LIVE_LIST{{"builtins", nullptr, {}}, {"list"}};
ModuleAttr LIVE_DICT{{"builtins", nullptr, {}}, {"dict"}};
ModuleAttr LIVE_REDUCE{{"functools", nullptr, {}}, {"reduce"}};

// An Iter holds the object it wraps for its whole life.
struct IterObject {
    PyObject_HEAD
    Ref inner;
};
using IterOps = HolderOps<IterObject, &IterObject::inner>;

inline PyObject* inner(PyObject* self) { return IterOps::held(self); }

// A new Iter around a lazy result (taking it over); a failed result is passed on.
PyObject* wrap(PyObject* result) noexcept {
    if (!result) return nullptr;
    return IterOps::create(g_iter.get(), steal(result));
}

// f(x) or f(x, y), where f is the current value of a module attribute.
PyObject* call_live(ModuleAttr& attr, PyObject* x, PyObject* y = nullptr) {
    Ref f = live_attr(attr);
    if (!f) return nullptr;
    return y ? direct_call(f.get(), x, y) : direct_call(f.get(), x);
}

// An int for islice from the converted `n`: the argument itself when it already is one.
Ref islice_count(const Args& a) {
    if (PyLong_CheckExact(a[0])) return borrow(a[0]);
    Ref n = steal(PyLong_FromUnsignedLongLong(a.u64(0)));
    if (!n) ffi_err();
    return n;
}

PyObject* iter_iter(PyObject* self) {
    // Iters wrapped in Iters nest as deep as the caller likes: bound the descent.
    if (Py_EnterRecursiveCall(" while getting the iterator of an Iter")) return nullptr;
    PyObject* r = PyObject_GetIter(inner(self));
    Py_LeaveRecursiveCall();
    return r;
}

}  // namespace

}  // namespace tv::it

using namespace tv;
using namespace tv::it;

// ---- Lazy methods --------------------------------------------------------------------------

TV_METHOD(Iter, map, "map($self, f)") { return wrap(call_live(LIVE_MAP, a[0], inner(a.self))); }

TV_METHOD(Iter, filter, "filter($self, f)") {
    return wrap(call_live(LIVE_FILTER, a[0], inner(a.self)));
}

TV_METHOD(Iter, unique, "unique($self, key=None)") {
    return wrap(seq::unique_impl(inner(a.self), a[0]));
}

TV_METHOD(Iter, take, "take($self, n)", {"n", Conv::U64}) {
    Ref n = islice_count(a);
    if (!n) return nullptr;
    PyObject* args[] = {inner(a.self), n.get()};
    return wrap(seq::islice_call(args, 2));
}

TV_METHOD(Iter, drop, "drop($self, n)", {"n", Conv::U64}) {
    Ref n = islice_count(a);
    if (!n) return nullptr;
    PyObject* args[] = {inner(a.self), n.get(), Py_None};
    return wrap(seq::islice_call(args, 3));
}

TV_METHOD(Iter, sliding_window, "sliding_window($self, n)", {"n", Conv::U64}) {
    return wrap(seq::sliding_window_impl(a.u64(0), inner(a.self)));
}

TV_METHOD(Iter, partition_all, "partition_all($self, n)", {"n", Conv::U64}) {
    return wrap(seq::partition_all_impl(a.u64(0), inner(a.self)));
}

TV_METHOD(Iter, flat_map, "flat_map($self, f)") {
    return wrap(seq::mapcat_impl(a[0], inner(a.self)));
}

TV_METHOD(Iter, pluck, "pluck($self, ind)") {
    return wrap(seq::pluck_impl(a[0], inner(a.self), nullptr));
}

TV_METHOD(Iter, interpose, "interpose($self, el)") {
    return wrap(seq::interpose_lazy(a[0], inner(a.self)));
}

TV_METHOD(Iter, accumulate, "accumulate($self, binop)") {
    return wrap(seq::accumulate_impl(a[0], inner(a.self), nullptr));
}

// ---- Terminal methods ----------------------------------------------------------------------

TV_METHOD(Iter, collect, "collect($self)") { return call_live(LIVE_LIST, inner(a.self)); }

TV_METHOD(Iter, reduce, "reduce($self, binop, *rest)", tail_at_most(1)) {
    Ref reduce = live_attr(LIVE_REDUCE);
    if (!reduce) return nullptr;
    PyObject* stack[4] = {nullptr, a[0], inner(a.self), a.nrest ? a.rest[0] : nullptr};
    return vcall(reduce.get(), stack + 1, (a.nrest ? 3 : 2) | PY_VECTORCALL_ARGUMENTS_OFFSET);
}

TV_METHOD(Iter, count, "count($self)") { return seq::count_impl(inner(a.self)); }

TV_METHOD(Iter, frequencies, "frequencies($self)") {
    return seq::frequencies_impl(inner(a.self));
}

TV_METHOD(Iter, group_by, "group_by($self, key)") {
    return seq::groupby_impl(a[0], inner(a.self));
}

TV_METHOD(Iter, to_dict, "to_dict($self)") { return call_live(LIVE_DICT, inner(a.self)); }

TV_METHOD(Iter, first, "first($self)") { return opt::first_opt_impl(inner(a.self)); }

TV_METHOD(Iter, last, "last($self)") { return opt::last_opt_impl(inner(a.self)); }

TV_METHOD(Iter, nth, "nth($self, i)", {"i", Conv::U64}) {
    return opt::nth_opt_impl(a.u64(0), inner(a.self));
}

// ---- The type ------------------------------------------------------------------------------

namespace tv::it {

namespace {

PyTypeObject* iter_type() noexcept {
    if (PyTypeObject* t = g_iter.get()) return t;
    PyMethodDef* methods = class_methods("Iter", {kClassGetItem});
    if (!methods) return nullptr;
    static PyType_Slot slots[] = {
        {Py_tp_doc, (void*)"Iter(inner)\n--\n\n"},
        // Iter(Iter(...)) chains are released iteratively.
        {Py_tp_dealloc, (void*)IterOps::dealloc},
        {Py_tp_traverse, (void*)IterOps::traverse},
        {Py_tp_iter, (void*)iter_iter},
        {Py_tp_new, (void*)IterOps::tp_new<iter_sig>},
        {Py_tp_methods, methods},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "tarvel._tarvel.Iter", sizeof(IterObject), 0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE, slots,
    };
    return type_once(g_iter, spec, [](PyTypeObject* tp) {
        tp->tp_vectorcall = IterOps::vectorcall<iter_sig>;
        return true;
    });
}

}  // namespace

}  // namespace tv::it

TV_REGISTER("Iter", tv::type_maker<tv::it::iter_type>);
