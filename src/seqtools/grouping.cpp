// groupby, countby, reduceby: bucket the elements of an iterable by a key. All three find
// groups through the native hash index and touch a dict only to build the result.
#include "seqtools/keys.hpp"
#include "seqtools/seqtools.hpp"
#include "seqtools/tally.hpp"

#include "utils/binder.hpp"
#include "utils/walk.hpp"

namespace tv::seq {

PyObject* apply_key(PyObject* key, PyObject* item) { return KeyFn(key)(item); }

namespace {

// A group's members while the walk runs. A list grown by appends copies its array some
// eight times over (it grows by an eighth each time); this array doubles, and the group's
// list is made once, at its final size. The first member lives inline: most groups of a
// mostly distinct input never get a second.
class Members {
public:
    Members() = default;
    Members(Members&& o) noexcept
        : u_(o.u_), n_(std::exchange(o.n_, 0)), cap_(std::exchange(o.cap_, 0)) {}
    Members& operator=(Members&& o) noexcept {
        std::swap(u_, o.u_);
        std::swap(n_, o.n_);
        std::swap(cap_, o.cap_);
        return *this;
    }
    ~Members() { release(); }

    // Takes over x; false with MemoryError set (x released) when the array cannot grow.
    bool add(Ref x) noexcept {
        if (n_ == 0) {
            u_.one = x.release();
            n_ = 1;
            return true;
        }
        if (n_ == cap_ || cap_ == 0) {
            size_t cap = cap_ ? 2 * cap_ : 4;
            auto* more = (PyObject**)PyMem_Realloc(cap_ ? u_.more : nullptr,
                                                   cap * sizeof(PyObject*));
            if (!more) {
                PyErr_NoMemory();
                return false;
            }
            if (!cap_) more[0] = u_.one;
            u_.more = more;
            cap_ = cap;
        }
        u_.more[n_++] = x.release();
        return true;
    }

    // The members as a new list (taking them over), or nullptr with an exception set (the
    // members are then still held here).
    PyObject* to_list() noexcept {
        PyObject* out = PyList_New((Py_ssize_t)n_);
        if (!out) return nullptr;
        PyObject* const* from = cap_ ? u_.more : &u_.one;
        for (size_t i = 0; i < n_; ++i) PyList_SET_ITEM(out, (Py_ssize_t)i, from[i]);
        n_ = 0;
        release();
        return out;
    }

private:
    void release() noexcept {
        // Each member leaves before it is dropped, so a __del__ meanwhile sees no dead slot.
        while (n_) {
            PyObject* x = cap_ ? u_.more[--n_] : (--n_, u_.one);
            Py_DECREF(x);
        }
        if (cap_) PyMem_Free(std::exchange(u_.more, nullptr));
        cap_ = 0;
    }

    union {
        PyObject* one;    // cap_ == 0: the only member (n_ is 0 or 1)
        PyObject** more;  // cap_ > 0: room for cap_ members
    } u_{nullptr};
    size_t n_ = 0;
    size_t cap_ = 0;
};

// Walks the elements of `seq` with each one's resolved key: body(k, x) returns false with an
// exception set to stop. The key is borrowed for the call only; x holds the element, and
// the body may take it over.
template <class Body>
bool walk_keyed(KeyFn& keyfn, PyObject* seq, Body&& body) {
    Source src;
    if (!src.open(seq)) return false;
    return src.drain([&](PyObject* item) {
        // Half the source's own look-ahead: that record's header has arrived by then.
        keyfn.prefetch(src.upcoming(4));
        Ref x = steal(item);
        Ref own;
        PyObject* k = keyfn.resolve(item, own);
        return k && body(k, x);
    });
}

}  // namespace

PyObject* groupby_impl(PyObject* key, PyObject* seq) {
    KeyFn keyfn(key);
    KeyTable<Members> groups;
    bool ok = walk_keyed(keyfn, seq, [&](PyObject* k, Ref& x) {
        bool inserted;
        Members* members = groups.find_or_add(k, inserted);
        return members && members->add(std::move(x));
    });
    if (!ok) return ffi_err();
    return groups.to_dict([](Members& members) { return members.to_list(); });
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
