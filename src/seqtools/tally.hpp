// Counting distinct keys for frequencies and countby.
#pragma once
#include "utils/key_table.hpp"

namespace tv {

// One more occurrence of `key` in the dict of counts `d` (a new key is stored with 1). False
// with an exception set when hashing or comparing raised.
inline bool count_in_dict(PyObject* d, PyObject* key) {
    Py_ssize_t before = PyDict_GET_SIZE(d);
    // A cached small int, yet a counted reference on interpreters without immortal
    // objects: it is released like any other.
    Ref one = steal(PyLong_FromLong(1));
    if (!one) return ffi_err(), false;
    PyObject* cur = PyDict_SetDefault(d, key, one.get());
    if (!cur) return ffi_err(), false;
    if (PyDict_GET_SIZE(d) != before) return true;  // a new key, stored with 1
    Ref next = steal(PyNumber_Add(cur, one.get()));  // our own exact int: no user code
    return next && PyDict_SetItem(d, key, next.get()) == 0;
}

// Counts of distinct keys, in order of first occurrence, as the dict {key: count}.
//
// Counts start in the native table: with repeated keys each occurrence costs one probe and
// an increment, and the dict is built once at the end. When the first kProbe keys are
// mostly distinct, that plan pays twice per key (a probe now, a dict insertion later), so
// the counts move into the result dict and every further key is counted there: a new key
// costs one insertion (setdefault to 1), a repeated one a lookup and a store.
class Tally {
public:
    // `expected`: the number of keys to come when the input knows it (0 otherwise), so
    // that a dict taking over the counts is sized once for them.
    explicit Tally(size_t expected = 0) : expected_(expected) {}

    // False with an exception set when hashing or comparing raised. Throws bad_alloc.
    bool add(PyObject* key) {
        if (dict_) return add_to_dict(key);
        return add_to_table(key) && (!move_due() || move());
    }
    // add() as long as the counts are in the native table, without the move into the
    // dict: for a plain key it runs no Python code. Then move() when move_due().
    bool add_to_table(PyObject* key) {
        bool inserted;
        int64_t* c = table_.find_or_add(key, inserted);
        if (!c) return false;
        ++*c;
        ++seen_;
        return true;
    }
    bool move_due() const { return !dict_ && seen_ == kProbe && mostly_distinct(table_.size()); }
    // False with an exception set.
    bool move() {
        // Room for the keys still to come, at the distinct share seen so far.
        size_t room = expected_ / kProbe * table_.size();
        dict_ = steal(table_.to_dict(count_object, room));
        return bool(dict_);
    }
    // Whether the counts moved into the result dict (its insertions lock it).
    bool in_dict() const { return bool(dict_); }
    // The dict of counts (a new reference), or nullptr with an exception set.
    PyObject* result() { return dict_ ? Py_NewRef(dict_.get()) : table_.to_dict(count_object); }

    // Past this many keys, a share of distinct ones above three quarters moves the counting
    // into the result dict.
    static constexpr size_t kProbe = 1 << 14;
    static constexpr bool mostly_distinct(size_t distinct) { return distinct > kProbe / 4 * 3; }

private:
    static PyObject* count_object(int64_t c) { return PyLong_FromLongLong(c); }

    bool add_to_dict(PyObject* key) { return count_in_dict(dict_.get(), key); }

    KeyTable<int64_t> table_;
    Ref dict_;  // the counts once they moved into the result
    size_t seen_ = 0;
    size_t expected_;
};

}  // namespace tv
