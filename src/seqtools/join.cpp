// join(leftkey, leftseq, rightkey, rightseq, left_default=None, right_default=None): a lazy
// relational join. The left side is indexed in full at the first step; the right side is
// streamed, each element followed by its matches in left order; with a right_default the
// unmatched left elements follow at the end, grouped by key in order of first occurrence.
//
// The index is the native hash index (dict semantics: hash, identity, then == with the
// stored key on the left) from each left key value to the list of its left elements and a
// matched mark, so a right element costs one probe. The pairs of one right element, and
// the tail of unmatched left elements, are produced one per step from a cursor into the
// index rather than built as a batch up front: the index is private, so the cursor sees
// exactly the elements a batch would hold.
#include "seqtools/keys.hpp"
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/key_table.hpp"
#include "utils/refvec.hpp"
#include "utils/native_iter.hpp"
#include "utils/source.hpp"
#include "utils/walk.hpp"

#include <memory>

namespace tv::seq {

namespace {

PyObject* pair(PyObject* a, PyObject* b) {
    PyObject* t = PyTuple_New(2);
    if (!t) return ffi_err();
    PyTuple_SET_ITEM(t, 0, Py_NewRef(a));
    PyTuple_SET_ITEM(t, 1, Py_NewRef(b));
    return t;
}

struct JoinStep {
    JoinStep(Source&& right, PyObject* leftkey, PyObject* leftseq, PyObject* rightkey,
             PyObject* left_default, PyObject* right_default) noexcept
        : leftkey_(borrow(leftkey)), leftseq_(borrow(leftseq)), rightkey_(borrow(rightkey)),
          right_(std::move(right)), left_default_(borrow(left_default)),
          right_default_(borrow(right_default)), leftfn_(leftkey_.get()),
          rightfn_(rightkey_.get()) {}

    PyObject* next() {
        if (!index_ && !build_index()) return nullptr;
        if (matches_) {
            if (PyObject* p = next_match()) return p;
            if (PyErr_Occurred()) return nullptr;
        }
        if (in_tail_) return next_unmatched();
        for (;;) {
            Ref r = steal(right_.next());
            if (!r) {
                if (PyErr_Occurred()) return nullptr;
                in_tail_ = true;
                return next_unmatched();
            }
            Ref own;
            PyObject* k = rightfn_.resolve(r.get(), own);
            if (!k) return nullptr;
            if (Group* g = index_->find(k)) {
                g->matched = true;
                matches_ = g;
                current_ = std::move(r);
                at_ = 0;
                return next_match();
            }
            if (PyErr_Occurred()) return nullptr;
            if (left_default_) return pair(left_default_.get(), r.get());
        }
    }

    int traverse(visitproc visit, void* arg) {
        if (int e = visit_refs(visit, arg, leftkey_, leftseq_, rightkey_, right_, left_default_,
                               right_default_))
            return e;
        if (index_) {
            int e = index_->traverse(visit, arg, [](const Group& g, visitproc visit, void* arg) {
                return g.traverse(visit, arg);
            });
            if (e) return e;
        }
        Py_VISIT(current_.get());
        return 0;
    }

private:
    // The index from left key value to the left elements with it, in left order. A failure
    // discards the partial index; the next step starts again with a fresh iterator of the
    // left input.
    bool build_index() {
        auto index = std::make_unique<Index>();
        Source left;
        if (!left.open(leftseq_.get())) return false;
        while (Ref l = steal(left.next())) {
            Ref own;
            PyObject* k = leftfn_.resolve(l.get(), own);
            if (!k) return false;
            bool inserted;
            Group* g = index->find_or_add(k, inserted);
            if (!g) return false;
            g->push(l.release());
        }
        if (PyErr_Occurred()) return false;
        index_ = std::move(index);
        return true;
    }

    // The next (left, right) pair of the current right element, or nullptr when its
    // matches are used up (an exception set only on failure).
    PyObject* next_match() {
        if (at_ < matches_->size()) return pair(matches_->at(at_++), current_.get());
        matches_ = nullptr;
        current_.reset();
        return nullptr;
    }

    // The next (left, right_default) pair for a left key no right element matched, walking
    // the index in order of first occurrence; nullptr at the end, then again every time.
    PyObject* next_unmatched() {
        if (!right_default_) return nullptr;
        for (;;) {
            if (tail_group_ < index_->size()) {
                const Group& g = (*index_)[tail_group_].val;
                if (!g.matched && tail_at_ < g.size())
                    return pair(g.at(tail_at_++), right_default_.get());
            } else {
                return nullptr;
            }
            ++tail_group_;
            tail_at_ = 0;
        }
    }

    // The left elements with one key value, in left order. Most keys of a join have one
    // element, so the first sits in the index entry itself: a match reads no other memory.
    struct Group {
        Ref first;
        RefVec more;
        bool matched = false;

        size_t size() const { return first ? 1 + more.size() : 0; }
        PyObject* at(size_t i) const { return i ? more[i - 1] : first.get(); }
        // Takes over `stolen`. Throws std::bad_alloc (having released it).
        void push(PyObject* stolen) {
            if (!first) first = steal(stolen);
            else more.push(stolen);
        }
        int traverse(visitproc visit, void* arg) const {
            Py_VISIT(first.get());
            return more.traverse(visit, arg);
        }
    };
    using Index = KeyTable<Group>;

    Ref leftkey_, leftseq_, rightkey_;
    Source right_;
    Ref left_default_, right_default_;  // null when absent
    KeyFn leftfn_, rightfn_;             // over leftkey_ and rightkey_, held above
    std::unique_ptr<Index> index_;       // null until built
    // The group being paired with the current right element (the index no longer changes
    // once built, so its entries stay put).
    const Group* matches_ = nullptr;
    Ref current_;
    size_t at_ = 0;
    bool in_tail_ = false;
    size_t tail_group_ = 0;  // the entry of the index being drained (it never changes now)
    size_t tail_at_ = 0;
};

}  // namespace

PyObject* join_impl(PyObject* leftkey, PyObject* leftseq, PyObject* rightkey,
                    PyObject* rightseq, PyObject* left_default, PyObject* right_default) {
    if (left_default == Py_None) left_default = nullptr;
    if (right_default == Py_None) right_default = nullptr;
    return lazy_over<JoinStep>(rightseq, leftkey, leftseq, rightkey, left_default,
                               right_default);
}

}  // namespace tv::seq

TV_FUNCTION(join,
            "join(leftkey, leftseq, rightkey, rightseq, left_default=None, right_default=None)") {
    return tv::seq::join_impl(a[0], a[1], a[2], a[3], a[4], a[5]);
}
