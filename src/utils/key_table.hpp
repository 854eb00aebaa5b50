// The one table for Python objects: the distinct keys of a call, in order of first
// occurrence, each with a payload (a count, a list of elements, or nothing at all for a
// seen-set). Keys are found through the hash index: one hash per key, identity before ==,
// no Python dict touched until the result is built.
//
//   KeyTable<int64_t> t;                        // frequencies, countby
//   int64_t* c = t.find_or_add(k, inserted);    // nullptr: hashing or == raised
//   ++*c;
//   PyObject* d = t.to_dict([](int64_t& c) { return PyLong_FromLongLong(c); });
//
//   KeySet seen;                                // unique, isdistinct
//   int r = seen.insert(x);                     // 1 new, 0 seen before, -1 error
#pragma once
#include "utils/hash_index.hpp"

#include <new>
#include <type_traits>
#include <vector>

namespace tv {

// The payload of a seen-set: takes no room in an entry.
struct NoPayload {};

template <class V>
class KeyTable {
public:
    struct Entry {
        Ref key;  // the first occurrence of the key value; the index borrows it from here
        [[no_unique_address]] V val;
    };

    explicit KeyTable(bool fast = int_fast_hash_enabled())
        : index_(fast, std::is_same_v<V, NoPayload>) {}
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

    // Seen-set use: 1 when `key` was new and is now stored (a strong reference taken), 0
    // when an equal key is stored already, -1 with an exception set when hashing or
    // comparing raised. Throws std::bad_alloc.
    int insert(PyObject* key) {
        bool inserted;
        if (!find_or_add(key, inserted)) return -1;
        return inserted ? 1 : 0;
    }

    // Drops every key; the table is empty (and usable) afterwards. The references go last,
    // so a __del__ they run sees an empty table.
    void clear() {
        std::vector<Entry> gone;
        gone.swap(entries_);
        index_.clear();
    }

    int traverse(visitproc visit, void* arg) const {
        for (const Entry& e : entries_) Py_VISIT(e.key.get());
        return 0;
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

using KeySet = KeyTable<NoPayload>;
static_assert(sizeof(KeySet::Entry) == sizeof(PyObject*), "a seen-set entry is its key alone");

}  // namespace tv

