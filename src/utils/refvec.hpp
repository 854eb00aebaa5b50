// A growable array of owned references. Whatever it still holds when it is cleared or
// destroyed (an error path, an abandoned iterator) is released.
#pragma once
#include "utils/errors.hpp"

#include <utility>
#include <vector>

namespace tv {

class RefVec {
public:
    RefVec() = default;
    RefVec(RefVec&& o) noexcept : v_(std::move(o.v_)) {}
    RefVec& operator=(RefVec&& o) noexcept {
        if (this != &o) {
            clear();
            v_ = std::move(o.v_);
        }
        return *this;
    }
    RefVec(const RefVec&) = delete;
    RefVec& operator=(const RefVec&) = delete;
    ~RefVec() { clear(); }

    // May throw std::bad_alloc.
    void reserve(size_t n) { v_.reserve(n); }
    // Takes over `stolen`; releases it before rethrowing when the array cannot grow.
    void push(PyObject* stolen) {
        try {
            v_.push_back(stolen);
        } catch (...) {
            Py_DECREF(stolen);
            throw;
        }
    }
    size_t size() const noexcept { return v_.size(); }
    bool empty() const noexcept { return v_.empty(); }
    size_t capacity() const noexcept { return v_.capacity(); }
    PyObject* operator[](size_t i) const noexcept { return v_[i]; }
    // The held references as one array (borrowed; valid until the next change).
    PyObject* const* data() const noexcept { return v_.data(); }

    // Moves every held reference into `tuple` from slot `at` on; the array is left empty
    // (its storage is kept for reuse).
    void move_into(PyObject* tuple, Py_ssize_t at = 0) noexcept {
        for (PyObject* o : v_) PyTuple_SET_ITEM(tuple, at++, o);
        v_.clear();
    }
    // Releases every held reference, keeping the storage. Each one leaves the array before
    // it is dropped, so __del__ code that runs meanwhile never sees a dead entry.
    void clear() noexcept {
        while (!v_.empty()) {
            PyObject* o = v_.back();
            v_.pop_back();
            Py_DECREF(o);
        }
    }
    // Releases the references and the storage.
    void drop_storage() noexcept {
        clear();
        std::vector<PyObject*>().swap(v_);
    }
    int traverse(visitproc visit, void* arg) const {
        for (PyObject* o : v_) Py_VISIT(o);
        return 0;
    }

private:
    std::vector<PyObject*> v_;
};

// Owned references that mostly number a handful: the first N live inside the object (no
// allocation for the common short case), the rest in a RefVec.
template <size_t N>
class SmallRefVec {
public:
    SmallRefVec() = default;
    SmallRefVec(const SmallRefVec&) = delete;
    SmallRefVec& operator=(const SmallRefVec&) = delete;
    ~SmallRefVec() {
        // Last in, first out, as RefVec releases.
        more_.clear();
        for (size_t i = n_ < N ? n_ : N; i-- > 0;) Py_CLEAR(small_[i]);
    }
    // Takes over `stolen`; may throw std::bad_alloc (after releasing it) past N entries.
    void push(PyObject* stolen) {
        if (n_ < N)
            small_[n_] = stolen;
        else
            more_.push(stolen);
        ++n_;
    }
    size_t size() const noexcept { return n_; }
    PyObject* operator[](size_t i) const noexcept { return i < N ? small_[i] : more_[i - N]; }

private:
    PyObject* small_[N] = {};
    RefVec more_;
    size_t n_ = 0;
};

}  // namespace tv
