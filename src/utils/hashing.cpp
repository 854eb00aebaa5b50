#include "utils/hashing.hpp"

namespace tv {

namespace {

#if TV_HAVE_LV_TAG
// One probe: `must_be_small` values have to take the inline path; the others pass when
// the interpreter stores them in wider form (they never reach the inline hash then).
bool probe_ok(long long value, bool must_be_small) noexcept {
    Ref o = steal(PyLong_FromLongLong(value));
    if (!o) {
        PyErr_Clear();
        return false;
    }
    Py_hash_t real = PyObject_Hash(o.get());
    if (real == -1) {
        PyErr_Clear();
        return false;
    }
    bool small = Py_TYPE(o.get()) == &PyLong_Type && int_is_small(o.get());
    if (!small) return !must_be_small;
    return small_int_hash(o.get()) == real;
}

bool self_test() noexcept {
    static const long long must[] = {0, 1, -1, -2, 5, 256, 257, 1073741823, -1073741823};
    static const long long maybe[] = {1099511627776LL, -1099511627776LL, 9223372036854775807LL,
                                      -9223372036854775807LL};
    for (long long v : must)
        if (!probe_ok(v, true)) return false;
    for (long long v : maybe)
        if (!probe_ok(v, false)) return false;
    return true;
}
#else
bool self_test() noexcept { return false; }
#endif

// The str shortcut reads the hash cached in the object: a hashed str must show the real hash
// there, and a fresh one the "not yet computed" mark, or every str goes through the slot.
bool str_cache_probe() noexcept {
    Ref o = steal(PyUnicode_FromString("tarvel hash cache probe"));
    if (!o) {
        PyErr_Clear();
        return false;
    }
    if (cached_str_hash(o.get()) != -1) return false;
    Py_hash_t real = PyObject_Hash(o.get());
    if (real == -1) {
        PyErr_Clear();
        return false;
    }
    return cached_str_hash(o.get()) == real;
}

// -1 until probed. Two threads may both run the probe (it runs no Python code and always
// gives the same answer); each publishes a whole word.
SharedWord<int> fast_hash_state{-1};

}  // namespace

namespace detail {
SharedWord<int> str_cache_state{-1};
bool probe_str_cache() noexcept {
    int state = str_cache_probe() ? 1 : 0;
    str_cache_state.store(state, std::memory_order_relaxed);
    return state == 1;
}
}  // namespace detail

bool int_fast_hash_enabled() noexcept {
    int state = fast_hash_state.load(std::memory_order_relaxed);
    if (state < 0) {
        state = self_test() ? 1 : 0;
        fast_hash_state.store(state, std::memory_order_relaxed);
    }
    return state == 1;
}

}  // namespace tv
