// The distinct keys of a counting or grouping call, in order of first occurrence, each with
// a payload (a count, a list of elements). Keys are found through the hash index: one hash
// per key, identity before ==, no Python dict touched until the result is built.
//
//   KeyTable<int64_t> t;                        // frequencies, countby
//   int64_t* c = t.find_or_add(k, inserted);    // nullptr: hashing or == raised
//   ++*c;
//   PyObject* d = t.to_dict([](int64_t& c) { return PyLong_FromLongLong(c); });
#pragma once
#include "utils/hash_index.hpp"

#include <new>
#include <vector>

namespace tv {

template <class V>
class KeyTable {
public:
    struct Entry {
        Ref key;  // the first occurrence of the key value; the index borrows it from here
        V val;
    };

    KeyTable() : index_(int_fast_hash_enabled()) {}
    KeyTable(const KeyTable&) = delete;
    KeyTable& operator=(const KeyTable&) = delete;

    size_t size() const { return entries_.size(); }
    Entry& operator[](size_t i) { return entries_[i]; }

    // The payload stored for a key equal to `key` (`inserted` false), or a new default one
    // stored under `key` itself (`inserted` true, a strong reference taken). nullptr with an
    // exception set when hashing or comparing raised. Throws std::bad_alloc before any
    // change.
    V* find_or_add(PyObject* key, bool& inserted) {
        Py_hash_t h = element_hash(key, index_.fast());
        if (h == -1) return nullptr;
        auto at = [this](uint32_t pos) { return entries_[pos].key.get(); };
        HashIndex::Probe p = index_.find(key, h, at);
        if (p.error) return nullptr;
        if (p.pos >= 0) {
            inserted = false;
            return &entries_[(size_t)p.pos].val;
        }
        // Chain positions are 32-bit: past that many distinct keys, give up as a failed
        // allocation rather than alias two entries.
        if (entries_.size() >= UINT32_MAX) throw std::bad_alloc();
        if (entries_.size() == entries_.capacity())
            entries_.reserve(entries_.empty() ? 16 : 2 * entries_.size());
        index_.add(p, (uint32_t)entries_.size());  // may throw: nothing stored yet
        entries_.push_back(Entry{borrow(key), V{}});  // cannot throw: room reserved
        inserted = true;
        return &entries_.back().val;
    }

    // The payload stored for a key equal to `key`, or nullptr: not there, or (with an
    // exception set) hashing or comparing raised.
    V* find(PyObject* key) {
        Py_hash_t h = element_hash(key, index_.fast());
        if (h == -1) return nullptr;
        auto at = [this](uint32_t pos) { return entries_[pos].key.get(); };
        HashIndex::Probe p = index_.find(key, h, at);
        return p.pos >= 0 ? &entries_[(size_t)p.pos].val : nullptr;
    }

    // Visits every key, and every payload through visit_val(payload, visit, arg).
    template <class VisitVal>
    int traverse(visitproc visit, void* arg, VisitVal&& visit_val) const {
        for (const Entry& e : entries_) {
            Py_VISIT(e.key.get());
            if (int r = visit_val(e.val, visit, arg)) return r;
        }
        return 0;
    }

    // A new dict {key: value(payload)} in order of first occurrence, with room for
    // `room` keys (at least the ones stored); value returns a new reference or nullptr with
    // an exception set.
    template <class Value>
    PyObject* to_dict(Value&& value, size_t room = 0) {
        size_t n = room > entries_.size() ? room : entries_.size();
        Ref out = steal(_PyDict_NewPresized(n > PY_SSIZE_T_MAX ? PY_SSIZE_T_MAX : (Py_ssize_t)n));
        if (!out) return ffi_err();
        for (Entry& e : entries_) {
            Ref v = steal(value(e.val));
            if (!v || PyDict_SetItem(out.get(), e.key.get(), v.get()) < 0) return ffi_err();
        }
        return out.release();
    }

private:
    std::vector<Entry> entries_;
    HashIndex index_;
};

}  // namespace tv

namespace tv {

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
        bool inserted;
        int64_t* c = table_.find_or_add(key, inserted);
        if (!c) return false;
        ++*c;
        if (++seen_ == kProbe && table_.size() > kProbe / 4 * 3) {
            // Room for the keys still to come, at the distinct share seen so far.
            size_t room = expected_ / kProbe * table_.size();
            dict_ = steal(table_.to_dict(count_object, room));
            if (!dict_) return false;
        }
        return true;
    }
    // The dict of counts (a new reference), or nullptr with an exception set.
    PyObject* result() { return dict_ ? Py_NewRef(dict_.get()) : table_.to_dict(count_object); }

private:
    static constexpr size_t kProbe = 1 << 14;
    static PyObject* count_object(int64_t c) { return PyLong_FromLongLong(c); }

    bool add_to_dict(PyObject* key) {
        PyObject* d = dict_.get();
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

    KeyTable<int64_t> table_;
    Ref dict_;  // the counts once they moved into the result
    size_t seen_ = 0;
    size_t expected_;
};

}  // namespace tv
