// topk(k, seq, key=None): the k largest elements, largest first, equal ranks in input order.
//
// Integer buffers are ranked in a native bounded heap over the raw values. Elsewhere the
// whole input is sorted by the interpreter's stable sort, unless every rank value (the
// element itself, or its key value) is an exact int that fits 64 bits, an exact str, or an
// exact float that is not NaN, all of one type: such values are totally ordered and compare
// without running any user code, so a native stable bounded selection over them gives the
// very tuple the sort would, in time n log k instead of n log n.
#include "seqtools/keys.hpp"
#include "utils/threading.hpp"
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/cached.hpp"
#include "utils/hashing.hpp"
#include "utils/int_buffer.hpp"
#include "utils/refvec.hpp"
#include "utils/source.hpp"
#include "utils/walk.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tv::seq {

namespace {

// ---- integer buffers

template <class T>
PyObject* topk_int(uint64_t k, const T* p, size_t n) {
    if (k == 0) return PyTuple_New(0);
    size_t cap = (uint64_t)n < k ? n : (size_t)k;
    std::vector<T> heap;  // min-heap: the smallest kept value at the front
    heap.reserve(cap);
    auto greater = std::greater<T>();
    size_t i = 0;
    for (; i < n && heap.size() < cap; ++i) {
        heap.push_back(p[i]);
        std::push_heap(heap.begin(), heap.end(), greater);
    }
    if (cap) {
        // The view pins the buffer, so a signal handler run between blocks cannot move it.
        T root = heap.front();
        while (i < n) {
            size_t stop = std::min(n, i + 16 * SignalPoll::kEvery);
            for (; i < stop; ++i) {
                T v = p[i];
                if (v <= root) [[likely]] continue;
                std::pop_heap(heap.begin(), heap.end(), greater);
                heap.back() = v;
                std::push_heap(heap.begin(), heap.end(), greater);
                root = heap.front();
            }
            if (i < n && PyErr_CheckSignals() < 0) return nullptr;
        }
    }
    std::sort(heap.begin(), heap.end(), greater);
    Ref out = steal(PyTuple_New((Py_ssize_t)heap.size()));
    if (!out) return ffi_err();
    for (size_t j = 0; j < heap.size(); ++j) {
        PyObject* v = box_int(heap[j]);
        if (!v) return ffi_err();
        PyTuple_SET_ITEM(out.get(), (Py_ssize_t)j, v);
    }
    return out.release();
}

// ---- native stable selection over totally ordered rank values

// Rank values of one exact type, read without running user code. read() returns false
// for a value outside the type's total order (another type, NaN, an int beyond 64 bits).
struct IntRank {
    using V = int64_t;
    static bool read(PyObject* o, V& v) noexcept {
        if (Py_TYPE(o) != &PyLong_Type) return false;
#if TV_HAVE_LV_TAG
        if (int_is_small(o)) {
            v = small_int_value(o);
            return true;
        }
#endif
        int overflow;
        v = PyLong_AsLongLongAndOverflow(o, &overflow);
        return !overflow;  // an exact int cannot fail otherwise
    }
    static bool less(V a, V b) noexcept { return a < b; }
};
struct FloatRank {
    using V = double;
    static bool read(PyObject* o, V& v) noexcept {
        if (Py_TYPE(o) != &PyFloat_Type) return false;
        v = PyFloat_AS_DOUBLE(o);
        return !std::isnan(v);
    }
    static bool less(V a, V b) noexcept { return a < b; }
};
struct StrRank {
    using V = PyObject*;
    static bool read(PyObject* o, V& v) noexcept {
        v = o;
        return Py_TYPE(o) == &PyUnicode_Type;
    }
    // Code-point order, as str's own <; cannot fail for two exact str objects.
    static bool less(V a, V b) noexcept { return PyUnicode_Compare(a, b) < 0; }
};

template <class Rank>
struct Ranked {
    typename Rank::V v;
    size_t pos;
};

// a ranks before b: a larger value, or an equal value that came earlier.
template <class Rank>
bool ranks_before(const Ranked<Rank>& a, const Ranked<Rank>& b) noexcept {
    if (Rank::less(b.v, a.v)) return true;
    if (Rank::less(a.v, b.v)) return false;
    return a.pos < b.pos;
}

// Where the rank values lie: an exact list or tuple, or a private array. For a list the
// storage and the size are read afresh after every signal check, since a signal handler is
// Python code and may have changed the list.
struct Vals {
    PyObject* container;  // exact list or tuple, or nullptr for `items`
    PyObject* const* items;
    size_t n;
    void refresh() {
        if (container) {
            items = PySequence_Fast_ITEMS(container);
            n = (size_t)PySequence_Fast_GET_SIZE(container);
        }
    }
};

enum class Sel { Done, NotTotal, Error };

// Positions of the min(k, n) best values, best first. Between signal checks it runs no
// Python code and creates no Python object, so the values it reads stay put; a str value
// that enters the kept set is owned by `keep` so that a handler cannot free it.
template <class Rank>
Sel select(Vals vals, uint64_t k, std::vector<size_t>& out, RefVec& keep) {
    size_t cap = (uint64_t)vals.n < k ? vals.n : (size_t)k;
    std::vector<Ranked<Rank>> heap;  // its front is the worst kept
    heap.reserve(cap);
    auto cmp = ranks_before<Rank>;
    for (size_t i = 0; i < vals.n;) {
        size_t stop = std::min(vals.n, i + SignalPoll::kEvery);
        for (; i < stop; ++i) {
            typename Rank::V v;
            if (!Rank::read(vals.items[i], v)) return Sel::NotTotal;
            if (heap.size() < cap) {
                heap.push_back({v, i});
                std::push_heap(heap.begin(), heap.end(), cmp);
            } else if (cap && Rank::less(heap.front().v, v)) {
                // A later element equal to the worst kept one ranks after it: only a
                // strictly larger value gets in.
                std::pop_heap(heap.begin(), heap.end(), cmp);
                heap.back() = {v, i};
                std::push_heap(heap.begin(), heap.end(), cmp);
            } else {
                continue;
            }
            if constexpr (std::is_same_v<typename Rank::V, PyObject*>) keep.push(Py_NewRef(v));
        }
        if (i < vals.n) {
            if (PyErr_CheckSignals() < 0) return Sel::Error;
            vals.refresh();
        }
    }
    std::sort(heap.begin(), heap.end(), cmp);
    out.clear();
    for (const auto& r : heap) out.push_back(r.pos);
    return Sel::Done;
}

// The selection for the rank type of the first value; NotTotal when no native order
// applies.
Sel select_any(const Vals& vals, uint64_t k, std::vector<size_t>& out, RefVec& keep) {
    if (vals.n == 0) return out.clear(), Sel::Done;
    PyTypeObject* tp = Py_TYPE(vals.items[0]);
    if (tp == &PyLong_Type) return select<IntRank>(vals, k, out, keep);
    if (tp == &PyFloat_Type) return select<FloatRank>(vals, k, out, keep);
    if (tp == &PyUnicode_Type) return select<StrRank>(vals, k, out, keep);
    return Sel::NotTotal;
}

// A tuple of the elements at the selected positions. The chosen elements are owned before
// anything is allocated: an allocation may collect garbage and run finalisers.
PyObject* tuple_of(Vals elems, const std::vector<size_t>& pos) {
    elems.refresh();
    RefVec chosen;
    chosen.reserve(pos.size());
    for (size_t p : pos) {
        if (p >= elems.n) {
            PyErr_SetString(PyExc_RuntimeError, "list changed size during iteration");
            return nullptr;
        }
        chosen.push(Py_NewRef(elems.items[p]));
    }
    Ref out = steal(PyTuple_New((Py_ssize_t)pos.size()));
    if (!out) return ffi_err();
    chosen.move_into(out.get());
    return out.release();
}

// list.sort(reverse=True), the interpreter's stable sort.
InternedStr SORT_NAME{"sort"};
OnceCell REVERSE_KWNAMES;

bool sort_descending(PyObject* list) {
    PyObject* name = interned(SORT_NAME);
    PyObject* kwnames = name ? REVERSE_KWNAMES.get([] {
        PyObject* t = Py_BuildValue("(s)", "reverse");
        return t ? t : ffi_err();
    }) : nullptr;
    if (!kwnames) return ffi_err(), false;
    PyObject* args[] = {list, Py_True};
    Ref r = steal(PyObject_VectorcallMethod(name, args, 1, kwnames));
    return r ? true : (ffi_err(), false);
}

PyObject* head_tuple(PyObject* list, uint64_t k) {
    Py_ssize_t n = PyList_GET_SIZE(list);
    Py_ssize_t m = (uint64_t)n < k ? n : (Py_ssize_t)k;
    Ref out = steal(PyList_GetSlice(list, 0, m));
    if (!out) return ffi_err();
    return PyList_AsTuple(out.get());
}

Vals vals_of(PyObject* seq) {
    return Vals{seq, PySequence_Fast_ITEMS(seq), (size_t)PySequence_Fast_GET_SIZE(seq)};
}

PyObject* topk_plain(uint64_t k, PyObject* seq) {
    std::vector<size_t> pos;
    RefVec keep;
    // Exact lists and tuples are ranked where they lie; any other input is read first.
    // Without the interpreter lock another thread may change a list under the ranking, so
    // there a list is copied first, as any other input is.
    bool in_place = PyTuple_CheckExact(seq) || (!TV_FREE_THREADED && PyList_CheckExact(seq));
    Ref all = in_place ? borrow(seq) : Ref();
    if (all) {
        switch (select_any(vals_of(seq), k, pos, keep)) {
            case Sel::Done: return tuple_of(vals_of(seq), pos);
            case Sel::Error: return nullptr;
            case Sel::NotTotal: break;
        }
        all = steal(PySequence_List(seq));
        if (!all) return ffi_err();
    } else {
        // Read through a source, so an endless input can be interrupted.
        all = steal(list_of(seq));
        if (!all) return ffi_err();
        switch (select_any(vals_of(all.get()), k, pos, keep)) {
            case Sel::Done: return tuple_of(vals_of(all.get()), pos);
            case Sel::Error: return nullptr;
            case Sel::NotTotal: break;
        }
    }
    if (!sort_descending(all.get())) return nullptr;
    return head_tuple(all.get(), k);
}

PyObject* topk_keyed(uint64_t k, PyObject* seq, PyObject* key) {
    KeyFn keyfn(key);
    RefVec keys, elems;
    Source src;
    if (!src.open(seq)) return nullptr;
    while (Ref x = steal(src.next())) {
        PyObject* kv = keyfn(x.get());
        if (!kv) return nullptr;
        keys.push(kv);
        elems.push(x.release());
    }
    if (PyErr_Occurred()) return nullptr;
    std::vector<size_t> pos;
    RefVec keep;
    size_t n = keys.size();
    // Both arrays are private: a signal handler cannot reach them.
    switch (select_any(Vals{nullptr, keys.data(), n}, k, pos, keep)) {
        case Sel::Done: return tuple_of(Vals{nullptr, elems.data(), n}, pos);
        case Sel::Error: return nullptr;
        case Sel::NotTotal: break;
    }

    // (key value, -position, element): equal keys rank by position, elements are never
    // compared.
    Ref work = steal(PyList_New((Py_ssize_t)n));
    if (!work) return ffi_err();
    for (size_t i = 0; i < n; ++i) {
        Ref rank = steal(PyLong_FromSsize_t(-(Py_ssize_t)i));
        PyObject* t = rank ? PyTuple_Pack(3, keys[i], rank.get(), elems[i]) : nullptr;
        if (!t) return ffi_err();
        PyList_SET_ITEM(work.get(), (Py_ssize_t)i, t);
    }
    keys.clear();
    elems.clear();
    if (!sort_descending(work.get())) return nullptr;
    Py_ssize_t m = (uint64_t)n < k ? (Py_ssize_t)n : (Py_ssize_t)k;
    Ref out = steal(PyTuple_New(m));
    if (!out) return ffi_err();
    for (Py_ssize_t i = 0; i < m; ++i)
        PyTuple_SET_ITEM(out.get(), i,
                         Py_NewRef(PyTuple_GET_ITEM(PyList_GET_ITEM(work.get(), i), 2)));
    return out.release();
}

}  // namespace

PyObject* topk_impl(uint64_t k, PyObject* seq, PyObject* key) {
    if (key && key != Py_None) return topk_keyed(k, seq, key);
    if (std::optional<PyObject*> r = with_int_elements(
            seq, [&](auto* data, size_t n) { return topk_int(k, data, n); }))
        return *r;
    return topk_plain(k, seq);
}

}  // namespace tv::seq

TV_FUNCTION(topk, "topk(k, seq, key=None)", {"k", tv::Conv::U64}) {
    return tv::seq::topk_impl(a.u64(0), a[1], a[2]);
}
