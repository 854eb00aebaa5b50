// join(leftkey, leftseq, rightkey, rightseq, left_default=None, right_default=None): a lazy
// relational join. The left side is indexed in full (a dict of lists) at the first step; the
// right side is streamed, each element followed by its matches in left order; with a
// right_default the unmatched left elements follow at the end, grouped by key.
//
// The pairs of one right element, and the tail of unmatched left elements, are produced
// one per step from a cursor into the index instead of being built as a batch up front:
// the index is private, so the cursor sees exactly the elements a batch would hold.
#include "seqtools/keys.hpp"
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/int_table.hpp"
#include "utils/native_iter.hpp"
#include "utils/source.hpp"
#include "utils/walk.hpp"

namespace tv::seq {

namespace {

PyObject* pair(PyObject* a, PyObject* b) {
    PyObject* t = PyTuple_New(2);
    if (!t) return ffi_err();
    PyTuple_SET_ITEM(t, 0, Py_NewRef(a));
    PyTuple_SET_ITEM(t, 1, Py_NewRef(b));
    return t;
}

class JoinStep final : public Step {
public:
    JoinStep(PyObject* leftkey, PyObject* leftseq, PyObject* rightkey, IterSource&& right,
             PyObject* left_default, PyObject* right_default) noexcept
        : leftkey_(borrow(leftkey)), leftseq_(borrow(leftseq)), rightkey_(borrow(rightkey)),
          right_(std::move(right)), left_default_(borrow(left_default)),
          right_default_(borrow(right_default)), leftfn_(leftkey_.get()),
          rightfn_(rightkey_.get()) {}

    PyObject* step() override {
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
            Ref k = steal(rightfn_(r.get()));
            if (!k) return nullptr;
            PyObject* group = PyDict_GetItemWithError(index_.get(), k.get());
            if (group) {
                if (right_default_) matched_.insert((int64_t)(uintptr_t)group);
                matches_ = borrow(group);
                current_ = std::move(r);
                at_ = 0;
                return next_match();
            }
            if (PyErr_Occurred()) return nullptr;
            if (left_default_) return pair(left_default_.get(), r.get());
        }
    }

    int traverse(visitproc visit, void* arg) override {
        Py_VISIT(leftkey_.get());
        Py_VISIT(leftseq_.get());
        Py_VISIT(rightkey_.get());
        if (int e = right_.traverse(visit, arg)) return e;
        Py_VISIT(left_default_.get());
        Py_VISIT(right_default_.get());
        Py_VISIT(index_.get());
        Py_VISIT(matches_.get());
        Py_VISIT(current_.get());
        return 0;
    }

private:
    // The dict from left key value to the list of left elements with it, in left order.
    // A failure discards the partial index; the next step starts again with a fresh
    // iterator of the left input.
    bool build_index() {
        Ref index = steal(PyDict_New());
        if (!index) return ffi_err(), false;
        PyObject* d = index.get();
        IterSource left;
        if (!left.open(leftseq_.get())) return false;
        SignalTick sig;
        while (Ref l = steal(left.next())) {
            Ref k = steal(leftfn_(l.get()));
            if (!k) return false;
            PyObject* group = PyDict_GetItemWithError(d, k.get());
            if (group) {
                if (PyList_Append(group, l.get()) < 0) return false;
            } else {
                if (PyErr_Occurred()) return false;
                Ref fresh = steal(PyList_New(1));
                if (!fresh) return ffi_err(), false;
                PyList_SET_ITEM(fresh.get(), 0, l.release());
                if (PyDict_SetItem(d, k.get(), fresh.get()) < 0) return false;
            }
            if (!sig.tick()) return false;
        }
        if (PyErr_Occurred()) return false;
        index_ = std::move(index);
        return true;
    }

    // The next (left, right) pair of the current right element, or nullptr when its
    // matches are used up (an exception set only on failure).
    PyObject* next_match() {
        PyObject* group = matches_.get();
        if (at_ < PyList_GET_SIZE(group))
            return pair(PyList_GET_ITEM(group, at_++), current_.get());
        matches_.reset();
        current_.reset();
        return nullptr;
    }

    // The next (left, right_default) pair for a left key no right element matched, walking
    // the index in order of first occurrence; nullptr at the end, then again every time.
    PyObject* next_unmatched() {
        if (!right_default_) return nullptr;
        for (;;) {
            if (tail_group_ && tail_at_ < PyList_GET_SIZE(tail_group_))
                return pair(PyList_GET_ITEM(tail_group_, tail_at_++), right_default_.get());
            PyObject *key, *group;
            if (!PyDict_Next(index_.get(), &tail_pos_, &key, &group)) {
                tail_group_ = nullptr;
                return nullptr;
            }
            tail_group_ = matched_.find((int64_t)(uintptr_t)group) ? nullptr : group;
            tail_at_ = 0;
        }
    }

    Ref leftkey_, leftseq_, rightkey_;
    IterSource right_;
    Ref left_default_, right_default_;  // null when absent
    KeyFn leftfn_, rightfn_;             // over leftkey_ and rightkey_, held above
    Ref index_;                          // null until built
    // The groups (by identity: each key value owns one list) that some right element
    // matched; kept only when the unmatched ones are wanted.
    IntMap<int64_t, bool> matched_;  // used as a set; find() answers by pointer
    Ref matches_, current_;  // the group being paired with the current right element
    Py_ssize_t at_ = 0;
    bool in_tail_ = false;
    Py_ssize_t tail_pos_ = 0;           // PyDict_Next position in the index
    PyObject* tail_group_ = nullptr;    // borrowed from the index, which never changes now
    Py_ssize_t tail_at_ = 0;
};

}  // namespace

PyObject* join_impl(PyObject* leftkey, PyObject* leftseq, PyObject* rightkey,
                    PyObject* rightseq, PyObject* left_default, PyObject* right_default) {
    IterSource right;
    if (!right.open(rightseq)) return nullptr;
    if (left_default == Py_None) left_default = nullptr;
    if (right_default == Py_None) right_default = nullptr;
    return make_native_iter<JoinStep>(leftkey, leftseq, rightkey, std::move(right),
                                      left_default, right_default);
}

}  // namespace tv::seq

TV_FUNCTION(join,
            "join(leftkey, leftseq, rightkey, rightseq, left_default=None, right_default=None)") {
    return tv::seq::join_impl(a[0], a[1], a[2], a[3], a[4], a[5]);
}
