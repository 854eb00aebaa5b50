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

#include <new>
#include <utility>
#include <vector>

namespace tv {

// The distinct elements that share one hash, as positions in the caller's entry list, in
// order of first occurrence: the first member inline in the table slot; from the second
// member on, the others in a growable array (capacity 2 to start) kept beside the table.
struct Chain {
    static constexpr uint32_t kEmpty = 0, kSingle = 1, kMany = 2;
    // Set in `state` when the first member is an exact int of one digit. Its hash is its
    // value, so a probe by another such int with the same hash (other than -2, the hash of
    // both -1 and -2) is that member, found without reading it: the stored elements are
    // scattered over the input, and reading each one is what a lookup waits for.
    static constexpr uint32_t kSmallFirst = 0x80000000u;
    uint32_t first;  // position of the first member
    uint32_t state;  // kEmpty (unused slot), kSingle, or kMany + k for the array rest[k]
    uint32_t kind() const { return state & ~kSmallFirst; }
};

class HashIndex {
public:
    // `seen_set`: the elements are mostly new on large inputs, so the table grows fourfold at
    // every size (each rehash is paid for), and it probes as the interpreter's own sets do,
    // from h & mask with a perturbed step: neighbouring hashes (consecutive ints) land in
    // neighbouring slots, so inserting a run of new elements stays in cache, where the
    // multiplicative spread would miss on every one. Other tables spread with PyHashHasher
    // (their keys repeat, and their payloads dominate the memory) and grow twofold past
    // 64K slots.
    explicit HashIndex(bool fast, bool seen_set = false) : fast_(fast), eager_(seen_set) {}
    HashIndex(const HashIndex&) = delete;
    HashIndex& operator=(const HashIndex&) = delete;
    ~HashIndex() { PyMem_Free(slots_); }

    bool fast() const { return fast_; }

    // Forgets every position; the index is empty (and usable) afterwards.
    void clear() {
        PyMem_Free(std::exchange(slots_, nullptr));
        mask_ = 0;
        shift_ = 64;
        count_ = 0;
        rest_.clear();
    }

    struct Probe {
        int64_t pos;    // position of the equal element, or -1 when none is stored
        bool error;     // a comparison raised (the exception is set)
        size_t slot;    // where add() records the element when pos is -1
        Py_hash_t hash;
        bool small;     // the element is an exact int of one digit
    };

    // Looks for an element equal to `x` (hash `h`) among the stored ones; at(pos) gives the
    // element stored at a position. Identity, then == with the stored element on the left;
    // members in order of first occurrence, the first match wins. Throws std::bad_alloc.
    template <class At>
    Probe find(PyObject* x, Py_hash_t h, At&& at) {
        if (!slots_) alloc(kInitialSlots);
        bool small = is_small(x);
        bool by_hash = small && h != -2;
        size_t perturb = (size_t)h;
        for (size_t i = index(h);; i = next(i, perturb)) {
            const Slot& s = slots_[i];
            if (s.chain.state == Chain::kEmpty) return Probe{-1, false, i, h, small};
            if (s.hash != h) continue;
            Chain c = s.chain;
            if (by_hash && (c.state & Chain::kSmallFirst)) return Probe{c.first, false, i, h, small};
            int eq = elements_equal(at(c.first), x, fast_);
            if (eq) return Probe{eq > 0 ? (int64_t)c.first : -1, eq < 0, i, h, small};
            if (c.kind() != Chain::kSingle) {
                const std::vector<uint32_t>& more = rest_[c.kind() - Chain::kMany];
                for (size_t k = 0; k < more.size(); ++k) {
                    uint32_t pos = more[k];
                    eq = elements_equal(at(pos), x, fast_);
                    if (eq) return Probe{eq > 0 ? (int64_t)pos : -1, eq < 0, i, h, small};
                }
            }
            return Probe{-1, false, i, h, small};
        }
    }

    // Records the element at `pos` after a find() that matched nothing. Throws bad_alloc.
    void add(const Probe& p, uint32_t pos) {
        Chain& c = slots_[p.slot].chain;
        if (c.kind() == Chain::kSingle) {
            if (rest_.size() >= Chain::kSmallFirst - Chain::kMany) throw std::bad_alloc();
            std::vector<uint32_t> more;
            more.reserve(2);
            more.push_back(pos);
            rest_.push_back(std::move(more));
            c.state = (uint32_t)(rest_.size() - 1 + Chain::kMany) | (c.state & Chain::kSmallFirst);
            return;
        }
        if (c.state != Chain::kEmpty) {
            rest_[c.kind() - Chain::kMany].push_back(pos);
            return;
        }
        size_t i = p.slot;
        if (2 * (count_ + 1) > mask_ + 1) {
            grow();
            i = free_slot(p.hash);
        }
        slots_[i] = Slot{p.hash, Chain{pos, Chain::kSingle | (p.small ? Chain::kSmallFirst : 0)}};
        ++count_;
    }

private:
    static constexpr size_t kInitialSlots = 32;
    struct Slot {
        Py_hash_t hash;
        Chain chain;
    };

    bool is_small(PyObject* x) const {
#if TV_HAVE_LV_TAG
        return fast_ && Py_TYPE(x) == &PyLong_Type && int_is_small(x);
#else
        (void)x;
        return false;
#endif
    }
    // Top bits of the multiplicative hash (the golden-ratio constant spreads neighbouring
    // hashes such as those of consecutive ints evenly over the table).
    size_t index(Py_hash_t h) const {
        return eager_ ? (size_t)h & mask_ : (size_t)(PyHashHasher::hash(h) >> shift_);
    }
    size_t next(size_t i, size_t& perturb) const {
        if (!eager_) return (i + 1) & mask_;
        perturb >>= 5;
        return (i * 5 + perturb + 1) & mask_;
    }
    void alloc(size_t n) {
        void* p = PyMem_Calloc(n, sizeof(Slot));  // zero-filled: every chain is empty
        if (!p) throw std::bad_alloc();
        slots_ = (Slot*)p;
        mask_ = n - 1;
        shift_ = 64 - (unsigned)__builtin_ctzll(n);
    }
    size_t free_slot(Py_hash_t h) const {
        size_t i = index(h), perturb = (size_t)h;
        while (slots_[i].chain.state != Chain::kEmpty) i = next(i, perturb);
        return i;
    }
    void grow() {
        Slot* old = slots_;
        size_t n = mask_ + 1;
        alloc(eager_ || n < (size_t(1) << 16) ? 4 * n : 2 * n);
        for (size_t j = 0; j < n; ++j)
            if (old[j].chain.state != Chain::kEmpty) slots_[free_slot(old[j].hash)] = old[j];
        PyMem_Free(old);
    }

    Slot* slots_ = nullptr;
    size_t mask_ = 0;
    unsigned shift_ = 64;
    size_t count_ = 0;  // distinct hashes in the table
    std::vector<std::vector<uint32_t>> rest_;  // the members after the first of each chain
    bool fast_;
    bool eager_;
};

}  // namespace tv
