// Whole-sequence comparisons: diff (the positions where sequences differ), isdistinct (no
// element twice) and merge_sorted (sorted inputs merged as the standard library's
// heapq.merge merges them: natively while it is the library's own, through it otherwise).
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/cached.hpp"
#include "utils/call.hpp"
#include "utils/hashing.hpp"
#include "utils/int_buffer.hpp"
#include "utils/int_table.hpp"
#include "utils/key_table.hpp"
#include "utils/native_iter.hpp"
#include "utils/refvec.hpp"
#include "utils/source.hpp"
#include "utils/walk.hpp"

#include <cstring>
#include <vector>

namespace tv::seq {

namespace {

// first == v and truth of the result, with no identity shortcut: a NaN differs from itself.
// Exact ints and strs are reflexive and compare without user code, so they are answered
// natively. 1, 0, or -1 with an exception set.
int row_equal(PyObject* a, PyObject* b) noexcept {
    PyTypeObject* tp = Py_TYPE(a);
    if (tp == Py_TYPE(b)) {
        if (tp == &PyLong_Type) {
            if (a == b) return 1;
#if TV_HAVE_LV_TAG
            if (int_is_small(a) && int_is_small(b))
                return small_int_value(a) == small_int_value(b);
#endif
        } else if (tp == &PyUnicode_Type) {
            if (a == b) return 1;
            Py_ssize_t n = PyUnicode_GET_LENGTH(a);
            if (n != PyUnicode_GET_LENGTH(b) || PyUnicode_KIND(a) != PyUnicode_KIND(b))
                return 0;
        }
    }
    Ref r = steal(PyObject_RichCompare(a, b, Py_EQ));
    if (!r) return ffi_err(), -1;
    if (r.get() == Py_True) return 1;
    if (r.get() == Py_False) return 0;
    int t = PyObject_IsTrue(r.get());
    return t < 0 ? (ffi_err(), -1) : t;
}

// All values equal to the first, compared left to right; 1, 0, or -1 with an exception.
int all_equal(PyObject* const* v, size_t n) noexcept {
    for (size_t i = 1; i < n; ++i) {
        int eq = row_equal(v[0], v[i]);
        if (eq != 1) return eq;
    }
    return 1;
}

struct DiffStep {
    DiffStep(std::vector<Source>&& its, Ref deflt, bool has_default, Ref key) noexcept
        : its_(std::move(its)), default_(std::move(deflt)), has_default_(has_default),
          key_(std::move(key)) {}

    PyObject* next() {
        size_t n = its_.size();
        RefVec row, keys;
        row.reserve(n);
        if (key_) keys.reserve(n);
        for (;;) {
            row.clear();
            bool any = false;
            for (Source& it : its_) {
                PyObject* x = it.valid() ? it.next() : nullptr;
                if (x) {
                    any = true;
                } else {
                    if (PyErr_Occurred()) return nullptr;
                    if (!has_default_) return nullptr;  // the shortest input ends it all
                    it.clear();                         // exhausted: the slot is emptied
                    x = Py_NewRef(default_.get());
                }
                row.push(x);
            }
            if (!any) return nullptr;
            int eq;
            if (key_) {
                keys.clear();
                for (size_t i = 0; i < n; ++i) {
                    PyObject* k = direct_call(key_.get(), row[i]);
                    if (!k) return nullptr;
                    keys.push(k);
                }
                eq = all_equal(keys.data(), n);
            } else {
                eq = all_equal(row.data(), n);
            }
            if (eq < 0) return nullptr;
            if (eq == 0) {
                PyObject* t = PyTuple_New((Py_ssize_t)n);
                if (!t) return ffi_err();
                row.move_into(t);
                return t;
            }
        }
    }
    int traverse(visitproc visit, void* arg) {
        for (const Source& it : its_)
            if (int e = it.traverse(visit, arg)) return e;
        return visit_refs(visit, arg, default_, key_);
    }

private:
    std::vector<Source> its_;  // an empty slot has no object
    Ref default_;
    bool has_default_;
    Ref key_;  // null when absent
};

// The merged stream, read through its cached step function.
struct MergeStep {
    explicit MergeStep(Source&& it) noexcept : it_(std::move(it)) {}
    PyObject* next() { return it_.next(); }
    int traverse(visitproc visit, void* arg) { return it_.traverse(visit, arg); }

private:
    Source it_;
};

// The k-way merge of heapq.merge, natively: the same heap of (key or value, input order)
// entries, sifted by the same steps in the same order, so every comparison the library
// makes - and so every user __eq__/__lt__/__bool__ call and every error - happens at the
// same point; inputs are opened and read exactly when the library's generator would.
class NativeMerge {
public:
    NativeMerge(Ref seqs, Ref key) noexcept : seqs_(std::move(seqs)), key_(std::move(key)) {}

    PyObject* next() {
        if (done_) return nullptr;
        PyObject* r = step();
        if (!r) finish();  // a generator that ended or raised is finished for good
        return r;
    }
    int traverse(visitproc visit, void* arg) {
        if (int e = visit_refs(visit, arg, seqs_, key_)) return e;
        for (const Input& in : inputs_)
            if (int e = visit_refs(visit, arg, in.key, in.value, in.src)) return e;
        return 0;
    }

private:
    struct Input {
        Ref key;  // key(value); null without a key
        Ref value;
        Source src;
    };
    enum class Phase { Start, Heap, Tail };
    // A heap entry: the input's index in the low half; while packed_, the compared small
    // int in the high half, offset to be unsigned, so that ordering the words orders the
    // entries exactly as less() does - by value, then by input order.
    using Entry = uint64_t;
    static uint32_t slot(Entry e) noexcept { return (uint32_t)e; }
    // Gives `e` its packed word; false when its compared object is not an exact small int.
    bool pack(Entry& e) const noexcept {
#if TV_HAVE_LV_TAG
        const Input& in = inputs_[slot(e)];
        PyObject* c = key_ ? in.key.get() : in.value.get();
        if (Py_TYPE(c) != &PyLong_Type || !int_is_small(c)) return false;
        e = (Entry)(uint32_t)(small_int_value(c) + (int64_t(1) << 31)) << 32 | slot(e);
        return true;
#else
        (void)e;
        return false;
#endif
    }

    PyObject* step() {
        switch (phase_) {
        case Phase::Start:
            if (!setup()) return nullptr;
            break;
        case Phase::Heap:
            if (!advance()) return nullptr;
            break;
        case Phase::Tail:
            // One input left: the rest of it is passed through as it comes.
            return inputs_[slot(h_[0])].src.next();
        }
        if (h_.empty()) return nullptr;
        phase_ = h_.size() == 1 ? Phase::Tail : Phase::Heap;
        return Py_NewRef(inputs_[slot(h_[0])].value.get());
    }

    // First element of every input, in order; an input that ends at once (or whose key
    // raises StopIteration) takes no place in the heap.
    bool setup() {
        Py_ssize_t n = PyTuple_GET_SIZE(seqs_.get());
        inputs_.reserve((size_t)n);
        for (Py_ssize_t i = 0; i < n; ++i) {
            Source src;
            if (!src.open(PyTuple_GET_ITEM(seqs_.get(), i))) {
                // iter() raising StopIteration ends the enumeration of the inputs.
                if (!PyErr_ExceptionMatches(PyExc_StopIteration)) return false;
                PyErr_Clear();
                break;
            }
            Ref x = steal(src.next());
            if (!x) {
                if (PyErr_Occurred()) return false;
                continue;
            }
            Ref k;
            if (key_) {
                k = steal(direct_call(key_.get(), x.get()));
                if (!k) {
                    if (!PyErr_ExceptionMatches(PyExc_StopIteration)) return false;
                    PyErr_Clear();
                    continue;
                }
            }
            inputs_.push_back(Input{std::move(k), std::move(x), std::move(src)});
            h_.push_back((uint32_t)(inputs_.size() - 1));
        }
        seqs_.reset();
        packed_ = true;
        for (Entry& e : h_)
            if (!pack(e)) packed_ = false;
        for (size_t i = h_.size() / 2; i-- > 0;)
            if (siftup(i) < 0) return escaped(), false;
        return true;
    }

    // The input whose element was yielded last moves on (heapreplace), or leaves the heap
    // (heappop) when it ends, its key raises StopIteration, or the sift does.
    bool advance() {
        Input& top = inputs_[slot(h_[0])];
        Ref x = steal(top.src.next());
        if (!x) {
            if (PyErr_Occurred()) return false;
            return pop(nullptr);  // the library sees the end as a StopIteration
        }
        if (key_) {
            Ref k = steal(direct_call(key_.get(), x.get()));
            if (!k) return stopped() && pop(PyErr_GetRaisedException());
            top.key = std::move(k);
        }
        top.value = std::move(x);
        if (packed_ && !pack(h_[0])) packed_ = false;
        if (siftup(0) < 0) return stopped() && pop(PyErr_GetRaisedException());
        return true;
    }
    // True (with the StopIteration still set) when the pending error is one.
    static bool stopped() noexcept { return PyErr_ExceptionMatches(PyExc_StopIteration); }

    // heappop, run where the library handles a StopIteration (`caught`, owned; null for an
    // input's plain end): an error raised here carries it as its context.
    bool pop(PyObject* caught) {
        Ref handled = steal(caught);
        uint32_t gone = slot(h_[0]);
        Entry last = h_.back();
        h_.pop_back();
        if (!h_.empty()) {
            h_[0] = last;
            if (siftup(0) < 0) {
                Ref exc = steal(PyErr_GetRaisedException());
                if (!handled) handled = steal(PyObject_CallNoArgs(PyExc_StopIteration));
                if (!handled) PyErr_Clear();  // the sift's error is the one that counts
                if (handled && exc.get() != handled.get())
                    PyException_SetContext(exc.get(), handled.release());
                PyErr_SetRaisedException(exc.release());
                return escaped(), false;
            }
        }
        Input& in = inputs_[gone];
        in.src.clear();
        in.key.reset();
        in.value.reset();
        return true;
    }

    // A StopIteration leaving the library's generator becomes its RuntimeError.
    static void escaped() noexcept {
        if (!PyErr_ExceptionMatches(PyExc_StopIteration)) return;
        PyObject* stop = PyErr_GetRaisedException();
        PyErr_SetString(PyExc_RuntimeError, "generator raised StopIteration");
        PyObject* exc = PyErr_GetRaisedException();
        PyException_SetCause(exc, Py_NewRef(stop));
        PyException_SetContext(exc, stop);
        PyErr_SetRaisedException(exc);
    }

    // Entry i < entry j, as the library's list entries compare: keys (values without a
    // key) by ==, identity first, then <; equal ones by input order. 1, 0, -1 on error.
    [[gnu::always_inline]] int less(uint32_t i, uint32_t j) const {
        PyObject* a = key_ ? inputs_[i].key.get() : inputs_[i].value.get();
        PyObject* b = key_ ? inputs_[j].key.get() : inputs_[j].value.get();
        if (a == b) return i < j;
        PyTypeObject* tp = Py_TYPE(a);
        if (tp == Py_TYPE(b)) {
            // Exact ints, floats and strs compare without user code, so one native
            // three-way comparison stands for the == and the < of the entries.
#if TV_HAVE_LV_TAG
            if (tp == &PyLong_Type && int_is_small(a) && int_is_small(b)) {
                auto x = small_int_value(a), y = small_int_value(b);
                return x == y ? i < j : x < y;
            }
#endif
            if (tp == &PyFloat_Type) {
                double x = PyFloat_AS_DOUBLE(a), y = PyFloat_AS_DOUBLE(b);
                return x == y ? i < j : x < y;  // NaN: neither equal nor less
            }
            if (tp == &PyUnicode_Type) {
                int c = PyUnicode_Compare(a, b);
                return c == 0 ? i < j : c < 0;
            }
        }
        return less_by_protocol(a, b, i < j);
    }
    // The == then < of two entries through the objects' own comparisons, kept out of the
    // sift loops so that the native comparisons above inline into them.
    [[gnu::noinline]] static int less_by_protocol(PyObject* a, PyObject* b, bool in_order) {
        int eq = PyObject_RichCompareBool(a, b, Py_EQ);
        if (eq < 0) return -1;
        if (eq) return in_order;
        Ref r = steal(PyObject_RichCompare(a, b, Py_LT));
        if (!r) return -1;
        if (r.get() == Py_True) return 1;
        if (r.get() == Py_False) return 0;
        return PyObject_IsTrue(r.get());
    }

    // The library's _siftdown and _siftup (the C heap module's order of comparisons), over
    // packed words while every entry has one: the same steps, so the same heap either way,
    // and a merge can drop to the objects' comparisons at any point.
    [[gnu::always_inline]] int siftup(size_t pos) {
        if (packed_) [[likely]]
            return siftup_with(pos, [](Entry a, Entry b) { return int(a < b); });
        return sift_by_objects(pos);
    }
    [[gnu::noinline]] int sift_by_objects(size_t pos) {
        return siftup_with(pos, [this](Entry a, Entry b) { return less(slot(a), slot(b)); });
    }
    template <class Less>
    [[gnu::always_inline]] int siftdown_with(size_t start, size_t pos, Less less) {
        Entry item = h_[pos];
        while (pos > start) {
            size_t parent = (pos - 1) >> 1;
            int c = less(item, h_[parent]);
            if (c < 0) return -1;
            if (c == 0) break;
            h_[pos] = h_[parent];
            h_[parent] = item;
            pos = parent;
        }
        return 0;
    }
    template <class Less>
    [[gnu::always_inline]] int siftup_with(size_t pos, Less less) {
        size_t end = h_.size(), start = pos, limit = end >> 1;
        while (pos < limit) {
            size_t child = 2 * pos + 1;
            if (child + 1 < end) {
                int c = less(h_[child], h_[child + 1]);
                if (c < 0) return -1;
                child += (unsigned)c ^ 1u;
            }
            std::swap(h_[child], h_[pos]);
            pos = child;
        }
        return siftdown_with(start, pos, less);
    }

    void finish() noexcept {
        done_ = true;
        // Released in place of the finished generator's frame.
        std::vector<Input> dead = std::move(inputs_);
        h_.clear();
        seqs_.reset();
        key_.reset();
    }

    Ref seqs_;  // the inputs until they are opened
    Ref key_;   // null without a key
    std::vector<Input> inputs_;
    std::vector<Entry> h_;  // the heap, in input order to begin with
    // Whether every entry carries its packed word: no entry has been compared through the
    // objects' own comparisons yet, and none needs to be.
    bool packed_ = false;
    Phase phase_ = Phase::Start;
    bool done_ = false;
};

// Beyond this many inputs the library heapifies in a cache-friendly order of its own;
// those merges stay with it.
constexpr Py_ssize_t kMaxNativeInputs = 2500;

// Whether `merge` is the library's own heapq.merge over its own C heap primitives: a
// function of the heapq module's namespace named merge, whose heapify, heappop and
// heapreplace are still the built-ins of the _heapq extension. Anything else (a wrapper,
// a patched primitive) is called as it is.
bool is_library_merge(PyObject* heapq, PyObject* merge) noexcept {
    if (!PyFunction_Check(merge)) return false;
    PyObject* ns = PyModule_GetDict(heapq);
    if (!ns || PyFunction_GET_GLOBALS(merge) != ns) return false;
    PyCodeObject* code = (PyCodeObject*)PyFunction_GET_CODE(merge);
    if (PyUnicode_CompareWithASCIIString(code->co_name, "merge") != 0) return false;
    for (const char* name : {"heapify", "heappop", "heapreplace"}) {
        PyObject* f = PyDict_GetItemString(ns, name);  // borrowed; no user code runs
        if (!f || !PyCFunction_Check(f)) return false;
        PyObject* owner = PyCFunction_GET_SELF(f);
        if (!owner || !PyModule_Check(owner)) return false;
        const char* mod = PyModule_GetName(owner);
        if (!mod) return PyErr_Clear(), false;
        if (std::strcmp(mod, "_heapq") != 0) return false;
    }
    return true;
}

// A duplicate near the front is the common early exit: the first block is checked in a
// small set, and only a buffer that gets past it pays for a set sized for every element
// (allocating and zeroing that is proportional to the length).
template <class T>
PyObject* distinct_ints(const T* p, size_t n) {
    constexpr size_t kFront = 1024;
    size_t i = 0;
    {
        IntSet<T> front;
        front.reserve(std::min(n, kFront));
        for (; i < n && i < kFront; ++i)
            if (!front.insert(p[i])) return Py_NewRef(Py_False);
    }
    if (i == n) return Py_NewRef(Py_True);
    IntSet<T> seen;
    seen.reserve(n);
    for (size_t j = 0; j < i; ++j) seen.insert(p[j]);
    while (i < n) {
        size_t stop = std::min(n, i + 16 * SignalPoll::kEvery);
        for (; i < stop; ++i)
            if (!seen.insert(p[i])) return Py_NewRef(Py_False);
        // The view pins the buffer: a signal handler cannot move it.
        if (i < n && PyErr_CheckSignals() < 0) return nullptr;
    }
    return Py_NewRef(Py_True);
}

// The seen-set of unique rather than a Python set: one probe per element, with the inline
// hashes of small ints and strs; membership is the same (hash, identity, then == with the
// stored element on the left).
PyObject* distinct_objects(PyObject* seq) {
    KeySet seen;
    bool dup = false;
    bool ok = walk_elements(seq, [&](PyObject* x) {
        int r = seen.insert(x);
        dup = r == 0;
        return r > 0;
    });
    if (dup) return Py_NewRef(Py_False);
    if (!ok) return ffi_err();
    return Py_NewRef(Py_True);
}

InternedStr DEFAULT_NAME{"default"};
InternedStr KEY_NAME{"key"};

}  // namespace

PyObject* isdistinct_impl(PyObject* seq) {
    if (std::optional<PyObject*> r = with_int_elements(
            seq, [&](auto* data, size_t n) { return distinct_ints(data, n); }))
        return *r;
    return distinct_objects(seq);
}

PyObject* merge_sorted_impl(PyObject* seqs, PyObject* key) {
    // Imported on every call (a replaced heapq.merge is honoured); the import system's own
    // entry answers from sys.modules without running any Python-level import machinery.
    Ref heapq = steal(PyImport_ImportModuleLevel("heapq", nullptr, nullptr, nullptr, 0));
    if (!heapq) return ffi_err();
    Ref merge = steal(PyObject_GetAttrString(heapq.get(), "merge"));
    if (!merge) return ffi_err();
    if (is_library_merge(heapq.get(), merge.get()) && PyTuple_GET_SIZE(seqs) <= kMaxNativeInputs)
        return make_native_iter<NativeMerge>(borrow(seqs), key == Py_None ? Ref() : borrow(key));
    Ref kwargs;
    if (key && key != Py_None) {
        kwargs = steal(PyDict_New());
        if (!kwargs || PyDict_SetItemString(kwargs.get(), "key", key) < 0) return ffi_err();
    }
    Ref merged = steal(PyObject_Call(merge.get(), seqs, kwargs.get()));
    if (!merged) return ffi_err();
    return lazy_over<MergeStep>(merged.get());
}

PyObject* diff_impl(PyObject* const* seqs, Py_ssize_t nseqs, PyObject* kwargs) {
    Ref deflt, key;
    bool has_default = false;
    if (kwargs) {
        PyObject* dname = interned(DEFAULT_NAME);
        PyObject* kname = dname ? interned(KEY_NAME) : nullptr;
        if (!dname || !kname) return ffi_err();
        // "default" counts whatever its value, None included; "key" only when not None.
        deflt = borrow(PyDict_GetItemWithError(kwargs, dname));
        if (!deflt && PyErr_Occurred()) return nullptr;
        has_default = bool(deflt);
        key = borrow(PyDict_GetItemWithError(kwargs, kname));
        if (!key && PyErr_Occurred()) return nullptr;
        if (key.get() == Py_None) key.reset();
    }
    Ref expanded;
    if (nseqs == 1 && PyList_Check(seqs[0])) {
        // One list argument: its elements are the sequences (a snapshot of them).
        expanded = steal(PySequence_Tuple(seqs[0]));
        if (!expanded) return ffi_err();
        seqs = &PyTuple_GET_ITEM(expanded.get(), 0);
        nseqs = PyTuple_GET_SIZE(expanded.get());
    }
    if (nseqs < 2) {
        PyErr_SetString(PyExc_TypeError, "Too few sequences given (min 2 required)");
        return nullptr;
    }
    std::vector<Source> its((size_t)nseqs);
    for (Py_ssize_t i = 0; i < nseqs; ++i)
        if (!its[(size_t)i].open(seqs[i])) return nullptr;
    return make_native_iter<DiffStep>(std::move(its), std::move(deflt), has_default,
                                      std::move(key));
}

}  // namespace tv::seq

using namespace tv;

TV_FUNCTION(isdistinct, "isdistinct(seq)") { return seq::isdistinct_impl(a[0]); }

TV_FUNCTION(diff, "diff(*seqs, **kwargs)") {
    return seq::diff_impl(a.rest, a.nrest, a.kwargs.get());
}

TV_FUNCTION(merge_sorted, "merge_sorted(*seqs, key=None)") {
    Ref seqs = a.rest_tuple();
    return seqs ? seq::merge_sorted_impl(seqs.get(), a[0]) : nullptr;
}
