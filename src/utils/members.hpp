// The members of one group while its input is read (merge_with's values), owned
// references in order. A list grown by appends copies its array some eight times over (it
// grows by an eighth each time); this array doubles. The first member lives inline, so a
// group of one takes no array.
#pragma once
#include "utils/ref.hpp"

#include <utility>

namespace tv {

class Members {
public:
    Members() = default;
    Members(Members&& o) noexcept
        : u_(o.u_), n_(std::exchange(o.n_, 0)), cap_(std::exchange(o.cap_, 0)) {}
    Members& operator=(Members&& o) noexcept {
        std::swap(u_, o.u_);
        std::swap(n_, o.n_);
        std::swap(cap_, o.cap_);
        return *this;
    }
    ~Members() { release(); }

    // Takes over x; false with MemoryError set (x released) when the array cannot grow.
    bool add(Ref x) noexcept {
        if (n_ == 0) {
            u_.one = x.release();
            n_ = 1;
            return true;
        }
        if (n_ == cap_ || cap_ == 0) {
            size_t cap = cap_ ? 2 * cap_ : 4;
            auto* more = (PyObject**)PyMem_Realloc(cap_ ? u_.more : nullptr,
                                                   cap * sizeof(PyObject*));
            if (!more) {
                PyErr_NoMemory();
                return false;
            }
            if (!cap_) more[0] = u_.one;
            u_.more = more;
            cap_ = cap;
        }
        u_.more[n_++] = x.release();
        return true;
    }

    size_t size() const noexcept { return n_; }

    PyObject* const* data() const noexcept { return cap_ ? u_.more : &u_.one; }

private:
    void release() noexcept {
        // Each member leaves before it is dropped, so a __del__ meanwhile sees no dead slot.
        while (n_) {
            PyObject* x = cap_ ? u_.more[--n_] : (--n_, u_.one);
            Py_DECREF(x);
        }
        if (cap_) PyMem_Free(std::exchange(u_.more, nullptr));
        cap_ = 0;
    }

    union {
        PyObject* one;    // cap_ == 0: the only member (n_ is 0 or 1)
        PyObject** more;  // cap_ > 0: room for cap_ members
    } u_{nullptr};
    size_t n_ = 0;
    size_t cap_ = 0;
};

// A new list of items[0..n) (references of its own), or nullptr with an exception set.
inline PyObject* list_of_items(PyObject* const* items, size_t n) noexcept {
    PyObject* out = PyList_New((Py_ssize_t)n);
    if (!out) return nullptr;
    for (size_t i = 0; i < n; ++i) PyList_SET_ITEM(out, (Py_ssize_t)i, Py_NewRef(items[i]));
    return out;
}

// Makes `list` (an exact list nobody else holds) hold exactly items[0..n), in order, with
// references of its own. Its items are replaced in place and only the difference in length
// is added or cut, so the list keeps its array from one use to the next (emptying a list
// drops it). False with an exception set.
inline bool refill_list(PyObject* list, PyObject* const* items, size_t n) noexcept {
    size_t had = (size_t)PyList_GET_SIZE(list), same = had < n ? had : n;
    for (size_t i = 0; i < same; ++i) PyList_SetItem(list, (Py_ssize_t)i, Py_NewRef(items[i]));
    if (had > n) return PyList_SetSlice(list, (Py_ssize_t)n, (Py_ssize_t)had, nullptr) == 0;
    for (size_t i = had; i < n; ++i)
        if (PyList_Append(list, items[i]) < 0) return false;
    return true;
}

}  // namespace tv
