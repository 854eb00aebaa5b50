// Element hashing shared by every tool that deduplicates or counts: each element is hashed
// once, exact str and small exact int without a call through the type's hash slot.
#pragma once
#include "utils/errors.hpp"
#include "utils/threading.hpp"

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tv {

// Whether the interpreter's integer layout and hash are the ones the inline int hash
// assumes. Probed once per process on first use; when false only speed is lost.
bool int_fast_hash_enabled() noexcept;
// Whether a str keeps its computed hash where the inline str path reads it. Probed once per
// process; inline because every str element asks.
namespace detail {
// -1 until probed, then 0 or 1. Two threads may both probe; they store the same answer.
extern SharedWord<int> str_cache_state;
bool probe_str_cache() noexcept;
}  // namespace detail
inline bool str_hash_cache_enabled() noexcept {
    int state = detail::str_cache_state.load(std::memory_order_relaxed);
    return state > 0 || (state < 0 && detail::probe_str_cache());
}

#if TV_HAVE_LV_TAG
// The lv_tag word of an int: digit count << 3 | flags | sign code (0 +, 1 zero, 2 -).
inline uintptr_t int_tag(PyObject* o) noexcept { return ((PyLongObject*)o)->long_value.lv_tag; }
inline bool int_is_small(PyObject* o) noexcept { return int_tag(o) <= 15; }
// Value of an int known to hold at most one digit.
inline int64_t small_int_value(PyObject* o) noexcept {
    uintptr_t tag = int_tag(o);
    return (int64_t)((PyLongObject*)o)->long_value.ob_digit[0] * (1 - (int64_t)(tag & 3));
}
// hash() of a small int: the value itself, except that -1 is reserved for errors.
inline Py_hash_t small_int_hash(PyObject* o) noexcept {
    int64_t v = small_int_value(o);
    return (uint64_t)v >= 0xFFFFFFFFFFFFFFFEull ? -2 : (Py_hash_t)v;
}
#endif

// Whether hashing the element, and comparing it with another such element, runs no
// Python code and takes no lock: exact ints and strs. A table holding only these can be
// probed with elements read borrowed inside a critical section on their list.
inline bool plain_key(PyObject* obj) noexcept {
    PyTypeObject* tp = Py_TYPE(obj);
    return tp == &PyLong_Type || tp == &PyUnicode_Type;
}

// The element's hash(), or -1 with an exception set.
inline Py_hash_t element_hash(PyObject* obj, bool fast) noexcept {
    PyTypeObject* tp = Py_TYPE(obj);
    if (tp == &PyUnicode_Type && str_hash_cache_enabled()) {
        Py_hash_t h = cached_str_hash(obj);
        if (h != -1) return h;
    }
#if TV_HAVE_LV_TAG
    else if (fast && tp == &PyLong_Type && int_is_small(obj)) {
        return small_int_hash(obj);
    }
#else
    (void)fast;
#endif
    Py_hash_t h = PyObject_Hash(obj);
    if (h == -1) ffi_err();
    return h;
}

// stored == probe for two elements whose hashes are equal: identity first, then a native
// answer for two small ints (their hash is their value, so only -1/-2 can share one),
// then the rich comparison with the stored element on the left. 1, 0, or -1 on error.
inline int elements_equal(PyObject* stored, PyObject* probe, bool fast) noexcept {
    if (stored == probe) return 1;
#if TV_HAVE_LV_TAG
    if (fast && Py_TYPE(stored) == &PyLong_Type && Py_TYPE(probe) == &PyLong_Type &&
        int_is_small(stored) && int_is_small(probe))
        return small_int_value(stored) == small_int_value(probe);
#else
    (void)fast;
#endif
    if (Py_TYPE(stored) == &PyUnicode_Type && Py_TYPE(probe) == &PyUnicode_Type) {
        // Two exact strs with equal hashes are equal when their code points are: the same
        // answer as str.__eq__ without the rich comparison's dispatch, which dominates a run
        // over many equal strs that are different objects.
        Py_ssize_t n = PyUnicode_GET_LENGTH(stored);
        int kind = PyUnicode_KIND(stored);
        return n == PyUnicode_GET_LENGTH(probe) && kind == (int)PyUnicode_KIND(probe) &&
               std::memcmp(PyUnicode_DATA(stored), PyUnicode_DATA(probe), (size_t)n * kind) == 0;
    }
    return PyObject_RichCompareBool(stored, probe, Py_EQ);
}

// Table hash of an element hash (for the hash index).
struct PyHashHasher {
    static uint64_t hash(Py_hash_t h) noexcept { return (uint64_t)h * 0x9e3779b97f4a7c15ull; }
};

// Table hash of a native integer: sign-extended for signed types, zero-extended otherwise.
struct FxHasher {
    template <class T>
    static uint64_t hash(T v) noexcept {
        static_assert(std::is_integral_v<T>);
        uint64_t w = std::is_signed_v<T> ? (uint64_t)(int64_t)v : (uint64_t)v;
        return w * 0x517cc1b727220a95ull;
    }
};

}  // namespace tv
