// The hash index of the counting and grouping tools: element hash -> Chain, the distinct
// elements sharing that hash, each known by its position in the caller's own entry list.
// The entry list owns one reference per distinct element; the index stores positions only
// and reads the element at a position through the caller's accessor when hashes meet, so a
// table slot is 16 bytes and a lookup that finds its element touches the entry it is about
// to update anyway.
//
//   HashIndex index(int_fast_hash_enabled());
//   auto at = [&](uint32_t pos) { return entries[pos].obj; };
//   Py_hash_t h = element_hash(x, index.fast());           // -1: error
//   HashIndex::Probe p = index.find(x, h, at);             // may run __eq__
//   if (p.error) ...; else if (p.pos >= 0) entries[p.pos] ...;
//   else { entries.push_back(own(x)); index.add(p, new_pos); }   // no find() in between
#pragma once
#include "utils/hashing.hpp"

#include <cstdlib>
#include <new>
#include <vector>

namespace tv {

class HashIndex {
public:
    explicit HashIndex(bool fast) : fast_(fast) {}
    HashIndex(const HashIndex&) = delete;
    HashIndex& operator=(const HashIndex&) = delete;
    ~HashIndex() { std::free(slots_); }

    bool fast() const { return fast_; }

    struct Probe {
        int64_t pos;    // position of the equal element, or -1 when none is stored
        bool error;     // a comparison raised (the exception is set)
        size_t slot;    // where add() records the element when pos is -1
        Py_hash_t hash;
    };

    // Looks for an element equal to `x` (hash `h`) among the stored ones; at(pos) gives the
    // element stored at a position. Identity, then == with the stored element on the left;
    // members in order of first occurrence, the first match wins. Throws std::bad_alloc.
    template <class At>
    Probe find(PyObject* x, Py_hash_t h, At&& at) {
        if (!slots_) alloc(kInitialSlots);
        for (size_t i = index(h);; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.tag == kEmpty) return Probe{-1, false, i, h};
            if (s.hash != h) continue;
            // The members' positions, copied out of the slot: __eq__ runs Python code.
            uint32_t first = s.pos, tag = s.tag;
            int eq = elements_equal(at(first), x, fast_);
            if (eq) return Probe{eq > 0 ? (int64_t)first : -1, eq < 0, i, h};
            if (tag != kSingle) {
                const std::vector<uint32_t>& more = chains_[tag - kMany];
                for (size_t k = 0; k < more.size(); ++k) {
                    uint32_t pos = more[k];
                    eq = elements_equal(at(pos), x, fast_);
                    if (eq) return Probe{eq > 0 ? (int64_t)pos : -1, eq < 0, i, h};
                }
            }
            return Probe{-1, false, i, h};
        }
    }

    // Records the element at `pos` after a find() that matched nothing. Throws bad_alloc.
    void add(const Probe& p, uint32_t pos) {
        Slot& s = slots_[p.slot];
        if (s.tag == kSingle) {
            // A second member: the chain moves to a growable array (capacity 2 to start).
            std::vector<uint32_t> more;
            more.reserve(2);
            more.push_back(pos);
            chains_.push_back(std::move(more));
            s.tag = (uint32_t)(chains_.size() - 1 + kMany);
            return;
        }
        if (s.tag != kEmpty) {
            chains_[s.tag - kMany].push_back(pos);
            return;
        }
        size_t i = p.slot;
        if (2 * (count_ + 1) > mask_ + 1) {
            grow();
            i = free_slot(p.hash);
        }
        slots_[i] = Slot{p.hash, pos, kSingle};
        ++count_;
    }

private:
    static constexpr size_t kInitialSlots = 32;
    static constexpr uint32_t kEmpty = 0, kSingle = 1, kMany = 2;
    // One hash: its first member inline; tag kMany + k when chains_[k] holds the others.
    struct Slot {
        Py_hash_t hash;
        uint32_t pos;
        uint32_t tag;
    };

    // Top bits of the multiplicative hash (the golden-ratio constant spreads neighbouring
    // hashes such as those of consecutive ints evenly over the table).
    size_t index(Py_hash_t h) const { return (size_t)(PyHashHasher::hash(h) >> shift_); }
    void alloc(size_t n) {
        void* p = std::calloc(n, sizeof(Slot));  // zero-filled: every tag is kEmpty
        if (!p) throw std::bad_alloc();
        slots_ = (Slot*)p;
        mask_ = n - 1;
        shift_ = 64 - (unsigned)__builtin_ctzll(n);
    }
    size_t free_slot(Py_hash_t h) const {
        size_t i = index(h);
        while (slots_[i].tag != kEmpty) i = (i + 1) & mask_;
        return i;
    }
    void grow() {
        Slot* old = slots_;
        size_t n = mask_ + 1;
        alloc(n < (size_t(1) << 16) ? 4 * n : 2 * n);
        for (size_t j = 0; j < n; ++j)
            if (old[j].tag != kEmpty) slots_[free_slot(old[j].hash)] = old[j];
        std::free(old);
    }

    Slot* slots_ = nullptr;
    size_t mask_ = 0;
    unsigned shift_ = 64;
    size_t count_ = 0;  // distinct hashes in the table
    std::vector<std::vector<uint32_t>> chains_;  // members after the first, per shared hash
    bool fast_;
};

}  // namespace tv
