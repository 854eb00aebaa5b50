// frequencies(seq): counts of each distinct element, keys in order of first occurrence.
// Integer buffers are counted as raw machine integers; everything else by hash and == in a
// native index, touching a Python dict only to build the result.
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/hash_index.hpp"
#include "utils/int_buffer.hpp"
#include "utils/int_table.hpp"
#include "utils/source.hpp"

#include <vector>

namespace tv::seq {

namespace {

// The result is built once the number of keys is known: sized up front, it never rehashes.
PyObject* new_result_dict(size_t n) {
    return _PyDict_NewPresized(n > (size_t)PY_SSIZE_T_MAX ? PY_SSIZE_T_MAX : (Py_ssize_t)n);
}

template <class T>
PyObject* count_ints(const T* p, size_t n) {
    IntMap<T, uint64_t> counts;
    std::vector<T> order;  // each distinct value once, in order of first occurrence
    counts.stream(
        p, 0, n, [](uint64_t* c) { ++*c; },
        [&](T v, uint64_t* c) {
            *c = 1;
            order.push_back(v);
            return false;
        });
    Ref out = steal(new_result_dict(order.size()));
    if (!out) return panic("frequencies: cannot create the result dict");
    for (T v : order) {
        Ref key = steal(box_int(v));
        if (!key) return panic("frequencies: cannot create a key");
        Ref count = steal(PyLong_FromUnsignedLongLong(*counts.find(v)));
        if (!count || PyDict_SetItem(out.get(), key.get(), count.get()) < 0) return ffi_err();
    }
    return out.release();
}

// The distinct elements in order of first occurrence, each owned once, with its count.
class Entries {
public:
    struct Entry {
        PyObject* obj;
        int64_t count;
    };
    Entries() = default;
    Entries(const Entries&) = delete;
    Entries& operator=(const Entries&) = delete;
    ~Entries() {
        std::vector<Entry> v;
        v.swap(v_);
        for (Entry& e : v) Py_DECREF(e.obj);
    }
    size_t size() const { return v_.size(); }
    Entry& operator[](size_t i) { return v_[i]; }
    // Appends `x` with a new strong reference; throws std::bad_alloc before taking it.
    void push(PyObject* x, int64_t count) {
        if (v_.size() == v_.capacity()) v_.reserve(v_.empty() ? 16 : 2 * v_.size());
        v_.push_back(Entry{Py_NewRef(x), count});
    }
    const std::vector<Entry>& all() const { return v_; }

private:
    std::vector<Entry> v_;
};

class Counter {
public:
    Counter() : index_(int_fast_hash_enabled()) {}

    // Counts one element; false with an exception set on failure. Throws std::bad_alloc.
    bool add(PyObject* x) {
        Py_hash_t h = element_hash(x, index_.fast());
        if (h == -1) return false;
        auto at = [this](uint32_t pos) { return entries_[pos].obj; };
        HashIndex::Probe p = index_.find(x, h, at);
        if (p.error) return false;
        if (p.pos >= 0) {
            entries_[(size_t)p.pos].count += 1;
            return true;
        }
        // Chain positions are 32-bit: past that many distinct elements, give up as a
        // failed allocation rather than alias two entries.
        if (entries_.size() > UINT32_MAX) throw std::bad_alloc();
        uint32_t pos = (uint32_t)entries_.size();
        entries_.push(x, 1);
        index_.add(p, pos);
        return true;
    }

    PyObject* result() {
        Ref out = steal(new_result_dict(entries_.size()));
        if (!out) return panic("frequencies: cannot create the result dict");
        for (const Entries::Entry& e : entries_.all()) {
            Ref count = steal(PyLong_FromLongLong(e.count));
            if (!count || PyDict_SetItem(out.get(), e.obj, count.get()) < 0) return ffi_err();
        }
        return out.release();
    }

private:
    Entries entries_;
    HashIndex index_;
};

PyObject* count_objects(PyObject* seq) {
    Counter counter;
    if (PyList_CheckExact(seq)) {
        // Hashing and == may run code that changes the list: re-read its size each step
        // and hold the element while it is counted.
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(seq); ++i) {
            Ref x = borrow(PyList_GET_ITEM(seq, i));
            if (!counter.add(x.get())) return nullptr;
        }
    } else if (PyTuple_CheckExact(seq)) {
        for (Py_ssize_t i = 0, n = PyTuple_GET_SIZE(seq); i < n; ++i)
            if (!counter.add(PyTuple_GET_ITEM(seq, i))) return nullptr;
    } else {
        Ref it = steal(PyObject_GetIter(seq));
        if (!it) return nullptr;
        while (Ref x = steal(iter_next(it.get()))) {
            if (!counter.add(x.get())) return nullptr;
        }
        if (PyErr_Occurred()) return nullptr;
    }
    return counter.result();
}

}  // namespace

PyObject* frequencies_impl(PyObject* seq) {
    if (std::optional<IntBuf> buf = int_buffer(seq)) {
        if (const void* data = buf->data()) {
            return visit_kind(buf->kind(), [&](auto tag) {
                using T = typename decltype(tag)::type;
                return count_ints((const T*)data, buf->count());
            });
        }
    }
    return count_objects(seq);
}

}  // namespace tv::seq

TV_FUNCTION(frequencies, "frequencies(seq)") { return tv::seq::frequencies_impl(a[0]); }
