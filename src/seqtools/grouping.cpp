// groupby, countby, reduceby: bucket the elements of an iterable by a key. All three find
// groups through the native hash index and touch a dict only to build the result.
#include "seqtools/keys.hpp"
#include "seqtools/seqtools.hpp"
#include "seqtools/tally.hpp"

#include "utils/binder.hpp"
#include "utils/walk.hpp"

#include <vector>

namespace tv::seq {

PyObject* apply_key(PyObject* key, PyObject* item) { return KeyFn(key)(item); }

namespace {

// Walks the elements of `src` with each one's resolved key: body(k, x) returns false to
// stop, with an exception set unless the caller asked for the stop (and may walk on from
// there). The key is borrowed for the call only; x holds the element, and the body may
// take it over.
template <class Body>
bool walk_keyed(KeyFn& keyfn, Source& src, Body&& body) {
    return src.drain([&](PyObject* item) {
        // Half the source's own look-ahead: that record's header has arrived by then.
        keyfn.prefetch(src.upcoming(4));
        Ref x = steal(item);
        Ref own;
        PyObject* k = keyfn.resolve(item, own);
        return k && body(k, x);
    });
}

template <class Body>
bool walk_keyed(KeyFn& keyfn, PyObject* seq, Body&& body) {
    Source src;
    return src.open(seq) && walk_keyed(keyfn, src, body);
}

// One more member x of the group of `key` in the dict of groups `d`, as a list there. A new
// key stores `spare` (a one-slot list made beforehand, its slot still empty) and fills it:
// one lookup per element, hashing the key once. False with an exception set.
bool group_in_dict(PyObject* d, PyObject* key, Ref& x, Ref& spare) {
    if (!spare) {
        spare = steal(PyList_New(1));
        if (!spare) return ffi_err(), false;
    }
    Py_ssize_t before = PyDict_GET_SIZE(d);
    PyObject* members = PyDict_SetDefault(d, key, spare.get());
    if (!members) return ffi_err(), false;
    if (PyDict_GET_SIZE(d) == before) return PyList_Append(members, x.get()) == 0;
    // Stored: nothing ran since, and the dict is ours, so no one saw the empty slot.
    PyList_SET_ITEM(spare.get(), 0, x.release());
    spare.reset();
    return true;
}

// A group of the table phase: its number (its place in the table) and its size so far.
struct Group {
    uint32_t id = 0;
    size_t count = 0;
};

// The elements of the table phase in input order, each with its group's number. The
// groups' lists are made at their final sizes at the end and filled in one pass: storing
// into a thousand growing groups while the input is read misses the cache on every element
// and stalls the walk's own loads, while appending here writes two sequential streams.
class Gathered {
public:
    Gathered() = default;
    Gathered(const Gathered&) = delete;
    Gathered& operator=(const Gathered&) = delete;
    ~Gathered() { release(); }

    // Room for `n` elements ahead (a list's length); without it, add() grows as it goes.
    void reserve(size_t n) noexcept {
        if (n > cap_) grow_to(n);
    }
    // Takes over x, a member of group g; false with MemoryError set (x released).
    bool add(Ref& x, uint32_t g) noexcept {
        if (n_ == cap_ && !grow_to(cap_ ? 2 * cap_ : 64)) {
            PyErr_NoMemory();
            return false;
        }
        items_[n_] = x.release();
        groups_[n_++] = g;
        return true;
    }
    size_t size() const noexcept { return n_; }

    // Hands every element over to its group, in order: *cursor[g]++ = x. Empties this.
    void scatter(PyObject*** cursor) noexcept {
        for (size_t i = 0; i < n_; ++i) *cursor[groups_[i]]++ = items_[i];
        n_ = 0;
    }

private:
    bool grow_to(size_t cap) noexcept {
        if (cap > PY_SSIZE_T_MAX / sizeof(PyObject*)) return false;
        auto* items = (PyObject**)PyMem_Realloc(items_, cap * sizeof(PyObject*));
        if (!items) return false;
        items_ = items;
        auto* groups = (uint32_t*)PyMem_Realloc(groups_, cap * sizeof(uint32_t));
        if (!groups) return false;
        groups_ = groups;
        cap_ = cap;
        return true;
    }
    void release() noexcept {
        // Each element leaves before it is dropped, so a __del__ meanwhile sees no dead slot.
        while (n_) Py_DECREF(items_[--n_]);
        PyMem_Free(items_);
        PyMem_Free(groups_);
    }

    PyObject** items_ = nullptr;
    uint32_t* groups_ = nullptr;
    size_t n_ = 0;
    size_t cap_ = 0;
};

// The groups as the result dict, the table and the gathered elements left empty;
// `expected` elements in all (0: unknown) size the dict for the groups still to come, at
// the distinct share seen so far.
PyObject* groups_to_dict(KeyTable<Group>& groups, Gathered& gathered, size_t expected = 0) {
    size_t n = groups.size();
    std::vector<Ref> lists(n);
    std::vector<PyObject**> cursor(n);
    for (size_t g = 0; g < n; ++g) {
        lists[g] = steal(PyList_New((Py_ssize_t)groups[g].val.count));
        if (!lists[g]) return ffi_err();
        cursor[g] = ((PyListObject*)lists[g].get())->ob_item;
    }
    gathered.scatter(cursor.data());
    size_t room = expected / Tally::kProbe * n;
    size_t g = 0;
    PyObject* d = groups.to_dict([&](Group&) { return lists[g++].release(); }, room);
    groups.clear();
    return d;
}

// The number of groups at which the first elements count as mostly distinct, as Tally
// decides for counts, when that many groups hold no more than its probe of elements.
constexpr size_t kMostlyDistinct = Tally::kProbe / 4 * 3 + 1;
static_assert(Tally::mostly_distinct(kMostlyDistinct) &&
              !Tally::mostly_distinct(kMostlyDistinct - 1));

}  // namespace

// Groups start in the native table, as counts do in Tally, and move into the result dict
// when the first keys are mostly distinct: the table would then cost a probe and an entry
// per element on top of the dict insertion at the end, far from cache on large inputs.
PyObject* groupby_impl(PyObject* key, PyObject* seq) {
    KeyFn keyfn(key);
    Source src;
    if (!src.open(seq)) return nullptr;
    KeyTable<Group> groups;
    Gathered gathered;
    gathered.reserve(known_length(seq));
    bool ok = walk_keyed(keyfn, src, [&](PyObject* k, Ref& x) {
        bool inserted;
        Group* group = groups.find_or_add(k, inserted);
        if (!group) return false;
        if (inserted) group->id = (uint32_t)(groups.size() - 1);
        if (!gathered.add(x, group->id)) return false;
        ++group->count;
        // Stops the walk, no exception set, to go on in the dict. Asked only when a new
        // key makes the count that mostly distinct first keys reach: nothing per element.
        return !inserted || groups.size() != kMostlyDistinct ||
               gathered.size() > Tally::kProbe;
    });
    if (ok || PyErr_Occurred()) return ok ? groups_to_dict(groups, gathered) : ffi_err();
    Ref dict = steal(groups_to_dict(groups, gathered, known_length(seq)));
    if (!dict) return nullptr;
    Ref spare;
    ok = walk_keyed(keyfn, src, [&](PyObject* k, Ref& x) {
        return group_in_dict(dict.get(), k, x, spare);
    });
    return ok ? dict.release() : ffi_err();
}

PyObject* countby_impl(PyObject* key, PyObject* seq) {
    KeyFn keyfn(key);
    Tally tally(known_length(seq));
    bool ok = walk_keyed(keyfn, seq, [&](PyObject* k, Ref&) { return tally.add(k); });
    if (!ok) return ffi_err();
    return tally.result();
}

namespace {

// The fold of binop over the elements of each key. The accumulators live in the native
// index beside their keys (one probe per element instead of a dict lookup and a store) and
// move into the dict at the end; the result is the same dict, built once.
PyObject* reduceby_impl(PyObject* key, PyObject* binop, PyObject* seq, PyObject* init) {
    KeyFn keyfn(key);
    bool init_call = init && PyCallable_Check(init);
    KeyTable<Ref> folds;
    bool ok = walk_keyed(keyfn, seq, [&](PyObject* k, Ref& held) {
        PyObject* x = held.get();
        bool inserted;
        Ref* acc = folds.find_or_add(k, inserted);
        if (!acc) return false;
        if (!inserted) {
            // binop cannot reach the index, so `acc` stays where it is during the call.
            PyObject* v = direct_call(binop, acc->get(), x);
            if (!v) return false;
            acc->reset(v);
            return true;
        }
        if (!init) {
            acc->reset(Py_NewRef(x));
            return true;
        }
        Ref start = init_call ? steal(PyObject_CallNoArgs(init)) : borrow(init);
        if (!start) return false;
        acc->reset(direct_call(binop, start.get(), x));
        return bool(*acc);
    });
    if (!ok) return ffi_err();
    return folds.to_dict([](Ref& acc) { return acc.release(); });
}

}  // namespace

}  // namespace tv::seq

using namespace tv;

TV_FUNCTION(groupby, "groupby(key, seq)") { return seq::groupby_impl(a[0], a[1]); }

TV_FUNCTION(countby, "countby(key, seq)") { return seq::countby_impl(a[0], a[1]); }

TV_FUNCTION(reduceby, "reduceby(key, binop, seq, *rest)", tail_at_most(1)) {
    return seq::reduceby_impl(a[0], a[1], a[2], a.nrest ? a.rest[0] : nullptr);
}
