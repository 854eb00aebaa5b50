// PySeen: the seen-set of unique. Open addressing over (hash, element) slots with the
// interpreter's own perturbed probe sequence; the elements are owned by an insertion-ordered
// array and the table only borrows them, so growing the table never touches a refcount.
#pragma once
#include "utils/hashing.hpp"

#include <new>
#include <vector>

namespace tv {

class PySeen {
public:
    explicit PySeen(bool fast) : fast_(fast) {}
    PySeen(const PySeen&) = delete;
    PySeen& operator=(const PySeen&) = delete;
    ~PySeen() { clear(); }

    // 1: `obj` was new and is now stored (a strong reference taken); 0: an equal element is
    // stored already; -1: error (hashing or comparison raised). Throws std::bad_alloc.
    int insert(PyObject* obj) {
        Py_hash_t h = element_hash(obj, fast_);
        if (h == -1) return -1;
        if (!slots_) alloc(kInitialSlots);
        size_t i = (size_t)h & mask_;
        size_t perturb = (size_t)h;
        for (;;) {
            Slot& s = slots_[i];
            if (!s.obj) break;
            if (s.hash == h) {
                int eq = elements_equal(s.obj, obj, fast_);
                if (eq != 0) return eq < 0 ? -1 : 0;
            }
            perturb >>= 5;
            i = (i * 5 + perturb + 1) & mask_;
        }
        // The one step that can throw, done before anything changes (geometric growth).
        if (owned_.size() == owned_.capacity())
            owned_.reserve(owned_.empty() ? 16 : 2 * owned_.size());
        if (2 * (mask_ + 1) < 3 * (count_ + 1)) {
            grow();
            i = empty_slot(h);
        }
        slots_[i] = Slot{h, obj};
        owned_.push_back(Py_NewRef(obj));
        ++count_;
        return 1;
    }

    size_t size() const { return count_; }
    size_t slot_count() const { return slots_ ? mask_ + 1 : kInitialSlots; }

    int traverse(visitproc visit, void* arg) const {
        for (PyObject* o : owned_) Py_VISIT(o);
        return 0;
    }
    // Drops every element; the set is empty (and usable) afterwards.
    void clear() {
        PyMem_Free(std::exchange(slots_, nullptr));
        mask_ = kInitialSlots - 1;
        count_ = 0;
        std::vector<PyObject*> owned;
        owned.swap(owned_);
        for (PyObject* o : owned) Py_DECREF(o);
    }

private:
    static constexpr size_t kInitialSlots = 32;
    struct Slot {
        Py_hash_t hash;
        PyObject* obj;  // borrowed from owned_; nullptr marks an empty slot
    };

    void alloc(size_t n) {
        void* p = PyMem_Calloc(n, sizeof(Slot));
        if (!p) throw std::bad_alloc();
        slots_ = (Slot*)p;
        mask_ = n - 1;
    }
    size_t empty_slot(Py_hash_t h) const {
        size_t i = (size_t)h & mask_;
        size_t perturb = (size_t)h;
        while (slots_[i].obj) {
            perturb >>= 5;
            i = (i * 5 + perturb + 1) & mask_;
        }
        return i;
    }
    void grow() {
        Slot* old = slots_;
        size_t n = mask_ + 1;
        alloc(4 * n);
        for (size_t k = 0; k < n; ++k)
            if (old[k].obj) slots_[empty_slot(old[k].hash)] = old[k];
        PyMem_Free(old);
    }

    Slot* slots_ = nullptr;
    size_t mask_ = kInitialSlots - 1;
    size_t count_ = 0;
    std::vector<PyObject*> owned_;
    bool fast_;
};

}  // namespace tv
