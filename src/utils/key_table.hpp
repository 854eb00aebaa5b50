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

    // A new dict {key: value(payload)} in order of first occurrence; value returns a new
    // reference or nullptr with an exception set.
    template <class Value>
    PyObject* to_dict(Value&& value) {
        Py_ssize_t n = (Py_ssize_t)entries_.size();
        Ref out = steal(_PyDict_NewPresized(n));
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
