// Native integer sets and maps hashed with FxHasher: one open-addressing table template
// serves every element type. Linear probing over a power-of-two table; the key 0 marks an
// empty slot, so a stored 0 lives beside the table.
// Storage is allocated on the first insertion and grows with the number of distinct keys
// only (at most half full). Tables come from the interpreter's allocator (the interpreter
// lock is always held here): small ones are cheap, and tracemalloc sees them all.
#pragma once
#include "utils/hashing.hpp"

#include <cstring>
#include <new>
#include <utility>

namespace tv {

template <class K, class V>
struct IntSlot {
    K key;
    V val;
};
template <class K>
struct IntSlot<K, void> {
    K key;
};

// V = void makes a set.
template <class K, class V>
class IntTable {
    static constexpr bool kIsMap = !std::is_void_v<V>;
    using Slot = IntSlot<K, V>;
    using Val = std::conditional_t<kIsMap, V, char>;

public:
    IntTable() = default;
    IntTable(IntTable&& o) noexcept { swap(o); }
    IntTable& operator=(IntTable&& o) noexcept {
        IntTable tmp(std::move(o));
        swap(tmp);
        return *this;
    }
    ~IntTable() { PyMem_Free(slots_); }

    size_t size() const { return count_ + has_zero_; }
    // Makes room for `n` keys at once, so that inserting them never grows the table. Only
    // before the first insertion (a no-op afterwards). Throws std::bad_alloc.
    void reserve(size_t n) {
        if (slots_) return;
        size_t slots = kInitialSlots;
        while (over_full_at(n, slots)) slots *= 2;
        alloc(slots);
    }
    // Bytes of native storage held (for memory accounting in tests and benchmarks).
    size_t bytes() const { return slots_ ? (mask_ + 1) * sizeof(Slot) : 0; }

    // Finds `k`, inserting it (with a zero value) when absent; `inserted` tells which.
    // Returns the value slot (nullptr for sets). Throws std::bad_alloc.
    Val* find_or_insert(K k, bool& inserted) {
        if (k == K(0)) {
            inserted = !has_zero_;
            has_zero_ = true;
            return &zero_val_;
        }
        if (!slots_) alloc(kInitialSlots);
        size_t i = index(k) & mask_;
        for (;;) {
            Slot& s = slots_[i];
            if (s.key == k) {
                inserted = false;
                return val_of(s);
            }
            if (s.key == K(0)) break;
            i = (i + 1) & mask_;
        }
        if (over_full(count_ + 1)) {
            grow();
            i = free_slot(k);
        }
        Slot& s = slots_[i];
        s.key = k;
        if constexpr (kIsMap) s.val = V();
        ++count_;
        inserted = true;
        return val_of(s);
    }
    // Streams the keys p[from, n) through the table: on_hit(value) for a key already
    // present; a new key is inserted and on_new(key, value) called, which stops the stream
    // by returning true. Returns the index just past the key that stopped it, or n.
    // Throws std::bad_alloc.
    template <class OnHit, class OnNew>
    size_t stream(const K* p, size_t from, size_t n, OnHit on_hit, OnNew&& on_new) {
        if (!slots_) alloc(kInitialSlots);
        size_t j = from;
        while ((j = hits(p, j, n, on_hit)) < n) {
            K k = p[j++];
            bool inserted;
            Val* v = find_or_insert(k, inserted);
            if (!inserted) on_hit(v);
            else if (on_new(k, v)) return j;
        }
        return n;
    }
    // True when `k` was not present (and is now).
    bool insert(K k) {
        bool inserted;
        find_or_insert(k, inserted);
        return inserted;
    }
    // Maps only: the value stored for `k`, or nullptr.
    const Val* find(K k) const {
        static_assert(kIsMap, "a set has no values: ask contains()");
        if (k == K(0)) return has_zero_ ? &zero_val_ : nullptr;
        const Slot* s = locate(k);
        return s ? val_of(*s) : nullptr;
    }
    bool contains(K k) const { return k == K(0) ? has_zero_ : locate(k) != nullptr; }

private:
    // The hot loop of stream(): runs over keys already present and returns the index of the
    // first key that needs an insertion (or n). Kept out of line and free of calls, so that
    // the table's fields and the loop state all stay in registers.
    template <class OnHit>
    [[gnu::noinline]] size_t hits(const K* p, size_t j, size_t n, OnHit on_hit) {
        Slot* const slots = slots_;
        const size_t mask = mask_;
        for (; j < n; ++j) {
            K k = p[j];
            if (k == K(0)) [[unlikely]] {
                if (!has_zero_) return j;
                on_hit(&zero_val_);
                continue;
            }
            size_t i = index(k) & mask;
            while (slots[i].key != k) {
                if (slots[i].key == K(0)) return j;
                i = (i + 1) & mask;
            }
            on_hit(val_of(slots[i]));
        }
        return n;
    }

    // The first allocation takes 512 bytes: one call to the allocator covers the first few
    // dozen keys, which is all that an early exit such as take(10, unique(a)) needs.
    static constexpr size_t kInitialSlots = 512 / sizeof(Slot) < 16 ? 16 : 512 / sizeof(Slot);
    static bool over_full_at(size_t n, size_t slots) { return 2 * n > slots; }
    bool over_full(size_t n) const { return over_full_at(n, mask_ + 1); }

    void swap(IntTable& o) noexcept {
        std::swap(slots_, o.slots_);
        std::swap(mask_, o.mask_);
        std::swap(count_, o.count_);
        std::swap(has_zero_, o.has_zero_);
        std::swap(zero_val_, o.zero_val_);
    }
    // The slot holding `k` (not 0), or nullptr.
    const Slot* locate(K k) const {
        if (!slots_) return nullptr;
        for (size_t i = index(k) & mask_;; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.key == k) return &s;
            if (s.key == K(0)) return nullptr;
        }
    }
    // The slot comes from the middle of the product (bits 32 and up, wrapping round): low
    // bits of v * K only see the low bits of v (multiples of 2^k would pile up), and the top
    // bits of this particular K put neighbouring values into a few clusters, while the middle
    // bits spread dense ranges and power-of-two strides alike.
    static size_t index(K k) {
        uint64_t h = FxHasher::hash(k);
        return (size_t)((h >> 32) | (h << 32));
    }
    static Val* val_of(Slot& s) {
        if constexpr (kIsMap) return &s.val;
        else return nullptr;
    }
    static const Val* val_of(const Slot& s) {
        if constexpr (kIsMap) return &s.val;
        else return nullptr;
    }
    void alloc(size_t n) {
        void* p = PyMem_Calloc(n, sizeof(Slot));  // all-zero: every key is the empty marker
        if (!p) throw std::bad_alloc();
        slots_ = (Slot*)p;
        mask_ = n - 1;
    }
    size_t free_slot(K k) const {
        size_t i = index(k) & mask_;
        while (slots_[i].key != K(0)) i = (i + 1) & mask_;
        return i;
    }
    void grow() {
        Slot* old = slots_;
        size_t n = mask_ + 1;
        alloc(2 * n);
        for (size_t j = 0; j < n; ++j)
            if (old[j].key != K(0)) slots_[free_slot(old[j].key)] = old[j];
        PyMem_Free(old);
    }

    Slot* slots_ = nullptr;
    size_t mask_ = 0;
    size_t count_ = 0;  // keys in the table (0 excluded)
    bool has_zero_ = false;
    Val zero_val_{};
};

template <class K>
using IntSet = IntTable<K, void>;
template <class K, class V>
using IntMap = IntTable<K, V>;

}  // namespace tv
