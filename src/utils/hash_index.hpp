// The hash index of the counting and grouping tools: element hash -> Chain, the distinct
// elements sharing that hash, each with its position in the caller's own entry list. The
// element pointers are borrowed from that entry list (which owns one reference per
// distinct element); the index frees only its own storage.
//
//   HashIndex index(int_fast_hash_enabled());
//   Py_hash_t h = element_hash(x, index.fast());           // -1: error
//   HashIndex::Probe p = index.find(x, h);                 // may run __eq__
//   if (p.error) ...; else if (p.pos >= 0) entries[p.pos] ...;
//   else { entries.push_back(own(x)); index.add(p, x, new_pos); }   // nothing in between
#pragma once
#include "utils/hashing.hpp"

#include <cstdlib>
#include <new>

namespace tv {

struct ChainMember {
    PyObject* obj;  // borrowed from the caller's entry list
    uint32_t pos;
};

// One member inline (the common case) or, from the second member on, a growable array.
class Chain {
public:
    uint32_t size() const { return len_; }
    bool empty() const { return len_ == 0; }
    const ChainMember* members() const { return cap_ ? many_ : &one_; }
    void add(ChainMember m) {
        if (len_ == 0) {
            one_ = m;
        } else if (cap_ == 0) {
            auto* p = (ChainMember*)std::malloc(2 * sizeof(ChainMember));
            if (!p) throw std::bad_alloc();
            p[0] = one_;
            many_ = p;
            cap_ = 2;
        } else if (len_ == cap_) {
            auto* p = (ChainMember*)std::realloc(many_, 2 * cap_ * sizeof(ChainMember));
            if (!p) throw std::bad_alloc();
            many_ = p;
            cap_ *= 2;
        }
        if (len_ > 0) many_[len_] = m;
        ++len_;
    }
    void free_storage() {
        if (cap_) std::free(many_);
        cap_ = len_ = 0;
    }

private:
    union {
        ChainMember one_;
        ChainMember* many_;
    };
    uint32_t len_;  // 0 marks an unused table slot (the table is zero-filled)
    uint32_t cap_;  // 0 while the single member is inline
};

class HashIndex {
public:
    explicit HashIndex(bool fast) : fast_(fast) {}
    HashIndex(const HashIndex&) = delete;
    HashIndex& operator=(const HashIndex&) = delete;
    ~HashIndex() {
        if (!slots_) return;
        for (size_t i = 0; i <= mask_; ++i) slots_[i].chain.free_storage();
        std::free(slots_);
    }

    bool fast() const { return fast_; }

    struct Probe {
        int64_t pos;    // position of the equal element, or -1 when none is stored
        bool error;     // a comparison raised (the exception is set)
        size_t slot;    // where add() puts the element when pos is -1
        Py_hash_t hash;
    };

    // Looks for an element equal to `x` (hash `h`): identity, then == with the stored
    // element on the left, members in insertion order, first match wins. Throws bad_alloc.
    Probe find(PyObject* x, Py_hash_t h) {
        if (!slots_) alloc(kInitialSlots);
        size_t i = index(h);
        for (;; i = (i + 1) & mask_) {
            Slot& s = slots_[i];
            if (s.chain.empty()) return Probe{-1, false, i, h};
            if (s.hash != h) continue;
            const ChainMember* m = s.chain.members();
            for (uint32_t k = 0, n = s.chain.size(); k < n; ++k) {
                int eq = elements_equal(m[k].obj, x, fast_);
                if (eq > 0) return Probe{(int64_t)m[k].pos, false, i, h};
                if (eq < 0) return Probe{-1, true, i, h};
            }
            return Probe{-1, false, i, h};
        }
    }

    // Records `x` (already owned by the caller's entry list at `pos`) after a find() that
    // matched nothing; no other add() may come between the two. Throws std::bad_alloc.
    void add(const Probe& p, PyObject* x, uint32_t pos) {
        Slot& s = slots_[p.slot];
        if (!s.chain.empty()) {
            s.chain.add(ChainMember{x, pos});
            return;
        }
        if (2 * (count_ + 1) > mask_ + 1) {
            grow();
            Slot& t = slots_[free_slot(p.hash)];
            t.hash = p.hash;
            t.chain.add(ChainMember{x, pos});
        } else {
            s.hash = p.hash;
            s.chain.add(ChainMember{x, pos});
        }
        ++count_;
    }

private:
    static constexpr size_t kInitialSlots = 16;
    struct Slot {
        Py_hash_t hash;
        Chain chain;
    };

    size_t index(Py_hash_t h) const { return (size_t)(PyHashHasher::hash(h) >> shift_); }
    void alloc(size_t n) {
        void* p = std::calloc(n, sizeof(Slot));
        if (!p) throw std::bad_alloc();
        slots_ = (Slot*)p;
        mask_ = n - 1;
        shift_ = 64 - (unsigned)__builtin_ctzll(n);
    }
    size_t free_slot(Py_hash_t h) const {
        size_t i = index(h);
        while (!slots_[i].chain.empty()) i = (i + 1) & mask_;
        return i;
    }
    void grow() {
        Slot* old = slots_;
        size_t n = mask_ + 1;
        alloc(2 * n);
        for (size_t j = 0; j < n; ++j)
            if (!old[j].chain.empty()) slots_[free_slot(old[j].hash)] = old[j];
        std::free(old);
    }

    Slot* slots_ = nullptr;
    size_t mask_ = 0;
    unsigned shift_ = 64;
    size_t count_ = 0;  // chains in the table
    bool fast_;
};

}  // namespace tv
