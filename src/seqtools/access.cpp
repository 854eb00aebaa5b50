// Element access and slicing: take, drop, take_nth, nth, first, second, last, tail, get,
// peek, cons, count.
#include "seqtools/seqtools.hpp"
#include "utils/threading.hpp"

#include "utils/binder.hpp"
#include "utils/cached.hpp"
#include "utils/call.hpp"
#include "utils/source.hpp"

#include <vector>

namespace tv::seq {

namespace {

CachedAttr ISLICE{"itertools", "islice", {}};
CachedAttr CHAIN{"itertools", "chain", {}};
CachedAttr SEQUENCE_ABC{"collections.abc", "Sequence", {}};
CachedAttr ABC_CACHE_TOKEN{"abc", "get_cache_token", {}};
InternedStr LEN_NAME{"__len__"};

}  // namespace

PyObject* islice_call(PyObject* const* args, size_t nargs) {
    PyObject* islice = cached_attr(ISLICE);
    if (!islice) return nullptr;
    return vcall(islice, args, nargs);
}

namespace {

// First-in-first-out window over the last `cap` references (every reference when cap is 0).
class Ring {
public:
    explicit Ring(size_t cap) : cap_(cap) {}
    ~Ring() {
        for (PyObject* o : buf_) Py_DECREF(o);
    }
    void push(PyObject* stolen) {
        if (cap_ == 0 || buf_.size() < cap_) {
            try {
                buf_.push_back(stolen);
            } catch (...) {
                Py_DECREF(stolen);
                throw;
            }
            return;
        }
        PyObject* old = buf_[head_];
        buf_[head_] = stolen;
        head_ = head_ + 1 == cap_ ? 0 : head_ + 1;
        Py_DECREF(old);
    }
    PyObject* to_tuple() const {
        size_t n = buf_.size();
        PyObject* t = PyTuple_New((Py_ssize_t)n);
        if (!t) return nullptr;
        for (size_t i = 0; i < n; ++i) {
            size_t j = head_ + i;
            if (j >= n) j -= n;
            PyTuple_SET_ITEM(t, i, Py_NewRef(buf_[j]));
        }
        return t;
    }

private:
    std::vector<PyObject*> buf_;
    size_t cap_;
    size_t head_ = 0;
};

}  // namespace

PyObject* tail_impl(uint64_t n, PyObject* seq) {
    uint64_t m = n > (uint64_t)INT64_MAX ? (uint64_t)INT64_MAX : n;
    Ref start = steal(PyLong_FromLongLong(-(long long)m));
    if (!start) return ffi_err();
    Ref slice = steal(PySlice_New(start.get(), Py_None, nullptr));
    if (!slice) return ffi_err();
    if (PyObject* r = PyObject_GetItem(seq, slice.get())) return r;
    if (!discard_matching(PyExc_TypeError, PyExc_KeyError)) return ffi_err();
    Source src;
    if (!src.open(seq)) return nullptr;
    Ring ring((size_t)n);
    if (!src.drain([&](PyObject* x) { return ring.push(x), true; })) return nullptr;
    return ring.to_tuple();
}

PyObject* count_impl(PyObject* seq) {
    PyObject* len_name = interned(LEN_NAME);
    if (!len_name) return nullptr;
    Ref attr = steal(PyObject_GetAttr(seq, len_name));
    if (attr) {
        Py_ssize_t n = PyObject_Size(seq);
        return n < 0 ? ffi_err() : PyLong_FromSsize_t(n);
    }
    if (!discard_matching(PyExc_AttributeError)) return nullptr;
    Source src;
    if (!src.open(seq)) return nullptr;
    size_t count = 0;
    bool ended = src.drain([&](PyObject* x) {
        Py_DECREF(x);
        return ++count, true;
    });
    return ended ? PyLong_FromSize_t(count) : nullptr;
}

namespace {

// One element of a source, StopIteration (no arguments) at its end.
PyObject* next_or_stop(Source& src) {
    PyObject* x = src.next();
    if (!x && !PyErr_Occurred()) return stop_iteration();
    return x;
}

// Element n of `seq` after skipping the ones before it (ordinary errors of the iterator
// count as skipped elements); StopIteration when it ends first.
PyObject* nth_by_skip(uint64_t n, PyObject* seq) {
    Source src;
    if (!src.open(seq)) return nullptr;
    int skipped = src.skip(n);
    if (skipped <= 0) return skipped < 0 ? nullptr : stop_iteration();
    return next_or_stop(src);
}

}  // namespace

PyObject* lookup_or_default(PyObject* coll, PyObject* key, PyObject* deflt) {
    PyObject* r = PyObject_GetItem(coll, key);
    if (r) return r;
    if (deflt && discard_lookup_error()) return Py_NewRef(deflt);
    return ffi_err();
}

PyObject* peek_pair(PyObject* head, PyObject* it) {
    // Looked up on every call, so a patched itertools.chain is honoured.
    Ref chain = import_attr("itertools", "chain");
    if (!chain) return nullptr;
    Ref one = steal(PyTuple_Pack(1, head));
    if (!one) return nullptr;
    PyObject* args[] = {one.get(), it};
    Ref rest = steal(PyObject_Vectorcall(chain.get(), args, 2, nullptr));
    if (!rest) return ffi_err();
    return PyTuple_Pack(2, head, rest.get());
}

}  // namespace tv::seq

using namespace tv;
using namespace tv::seq;

TV_FUNCTION(take, "take(n, seq)") {
    PyObject* args[] = {a[1], a[0]};
    return islice_call(args, 2);
}

TV_FUNCTION(drop, "drop(n, seq)") {
    PyObject* args[] = {a[1], a[0], Py_None};
    return islice_call(args, 3);
}

TV_FUNCTION(take_nth, "take_nth(n, seq)") {
    Ref zero = steal(PyLong_FromLong(0));
    if (!zero) return nullptr;
    PyObject* args[] = {a[1], zero.get(), Py_None, a[0]};
    return islice_call(args, 4);
}

namespace {

// isinstance(seq, collections.abc.Sequence). The ABC's answer runs Python code, so it is
// remembered for the last type asked, while no class has been registered with any ABC since
// (the ABC token is unchanged). Only built-in types with the generic attribute lookup are
// remembered: their bases cannot change and their __class__ is their type, so the answer
// depends on the type alone (a proxy's __class__ is its referent's).
int is_sequence(PyObject* seq) {
    PyObject* abc = cached_attr(SEQUENCE_ABC);
    if (!abc) return -1;
    PyTypeObject* tp = Py_TYPE(seq);
    if (PyType_HasFeature(tp, Py_TPFLAGS_HEAPTYPE) || tp->tp_getattro != PyObject_GenericGetAttr)
        return PyObject_IsInstance(seq, abc);
    struct Remembered {
        PyInterpreterState* interp = nullptr;
        PyTypeObject* tp = nullptr;
        unsigned long long token = 0;
        int answer = 0;
    };
    thread_local Remembered last;
    PyObject* get_token = cached_attr(ABC_CACHE_TOKEN);
    if (!get_token) return -1;
    Ref token_obj = steal(PyObject_CallNoArgs(get_token));
    if (!token_obj) return ffi_err(), -1;
    unsigned long long token = PyLong_AsUnsignedLongLong(token_obj.get());
    if (token == (unsigned long long)-1 && PyErr_Occurred()) return -1;
    PyInterpreterState* interp = PyInterpreterState_Get();
    if (last.tp == tp && last.token == token && last.interp == interp) return last.answer;
    int answer = PyObject_IsInstance(seq, abc);
    if (answer < 0) return -1;
    last = {interp, tp, token, answer};
    return answer;
}

}  // namespace

TV_FUNCTION(nth, "nth(n, seq)") {
    PyObject *n = a[0], *seq = a[1];
    if (PyList_Check(seq) || PyTuple_Check(seq)) return PyObject_GetItem(seq, n);
    int is_seq = is_sequence(seq);
    if (is_seq < 0) return nullptr;
    if (is_seq) return PyObject_GetItem(seq, n);
    long idx = PyLong_AsLong(n);
    if ((idx == -1 && PyErr_Occurred()) || idx < 0) {
        PyErr_SetString(PyExc_ValueError,
                        "Indices for islice() must be None or an integer: 0 <= x <= sys.maxsize.");
        return nullptr;
    }
    return nth_by_skip((uint64_t)idx, seq);
}

TV_FUNCTION(first, "first(seq)") {
    Source src;
    return src.open(a[0]) ? next_or_stop(src) : nullptr;
}

TV_FUNCTION(second, "second(seq)") { return nth_by_skip(1, a[0]); }

TV_FUNCTION(tail, "tail(n, seq)", {"n", Conv::U64}) { return tail_impl(a.u64(0), a[1]); }

TV_FUNCTION(last, "last(seq)") {
    Ref t = steal(tail_impl(1, a[0]));
    if (!t) return nullptr;
    Ref zero = steal(PyLong_FromLong(0));
    return zero ? PyObject_GetItem(t.get(), zero.get()) : nullptr;
}

namespace {

// get with a list of indices: a tuple of coll[i] (or the default) for each one. The walk
// stops at the shorter of the list's length at the start and its current one: a lookup
// may run Python code that shrinks it.
[[gnu::noinline]] PyObject* get_many(PyObject* ind, PyObject* coll, PyObject* deflt) {
    Py_ssize_t n = PyList_GET_SIZE(ind);
    Ref out = steal(PyTuple_New(n));
    if (!out) return nullptr;
    Py_ssize_t i = 0;
    for (; i < n && i < PyList_GET_SIZE(ind); ++i) {
        Ref key = steal(list_item(ind, i));
        if (!key) break;  // shrunk by another thread
        PyObject* v = lookup_or_default(coll, key.get(), deflt);
        if (!v) return nullptr;
        PyTuple_SET_ITEM(out.get(), i, v);
    }
    if (i < n) return PyTuple_GetSlice(out.get(), 0, i);
    return out.release();
}

}  // namespace

TV_FUNCTION(get, "get(ind, coll, *rest)", tail_at_most(1)) {
    PyObject *ind = a[0], *coll = a[1];
    if (a.nrest == 0 && !PyList_Check(ind)) {  // the common call, with nothing in between
        PyObject* r = PyObject_GetItem(coll, ind);
        return r ? r : ffi_err();
    }
    PyObject* deflt = a.nrest ? a.rest[0] : nullptr;
    if (PyList_Check(ind)) return get_many(ind, coll, deflt);
    return lookup_or_default(coll, ind, deflt);
}

TV_FUNCTION(peek, "peek(seq)") {
    Ref it = steal(PyObject_GetIter(a[0]));
    if (!it) return nullptr;
    Ref head = steal(iter_next(it.get()));
    if (!head) return PyErr_Occurred() ? nullptr : stop_iteration();
    return peek_pair(head.get(), it.get());
}

TV_FUNCTION(cons, "cons(el, seq)") {
    PyObject* chain = cached_attr(CHAIN);
    if (!chain) return nullptr;
    Ref one = steal(PyTuple_Pack(1, a[0]));
    if (!one) return nullptr;
    PyObject* args[] = {one.get(), a[1]};
    PyObject* r = PyObject_Vectorcall(chain, args, 2, nullptr);
    return r ? r : ffi_err();
}

TV_FUNCTION(count, "count(seq)") { return count_impl(a[0]); }
