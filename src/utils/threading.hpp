// Running without the interpreter lock. On a free-threaded build the module declares that
// it does not need the lock, so native code runs truly in parallel; this is what keeps its
// mutable state consistent. On a build with the lock every helper here compiles to the
// plain code the lock already makes safe (all choices are made on TV_FREE_THREADED).
//
// Who protects what:
//   - A lazy result's state: its busy flag (BusyScope), taken with one atomic
//     test-and-set. The thread that takes it owns the whole state until the step ends; a
//     second thread gets "iterator already executing", never a half-updated state.
//   - Once-filled cells (OnceCell: interned strs, imported objects, type objects, curry
//     signatures) publish their value with a release store read with acquire loads;
//     process-wide probes (the int-hash self-test, the str hash cache probe) are atomics
//     that may be computed twice, never seen half-written.
//   - An exact list someone else can reach: read by index through list_item(), a strong
//     reference taken the way the list itself does it (PyList_GetItemRef); the size is
//     read afresh, so a list shrunk by another thread ends the read as it would end a
//     list iterator. Tuples and private lists (made by the call itself) are read directly.
//     A scan that reads elements borrowed (Source::scan, the small-int count) does it in
//     runs inside a critical section on the list, running no Python code and taking no
//     other lock meanwhile: either could let the section lapse under the pointers.
//   - A dict someone else can reach: each PyDict_Next step runs inside a critical section
//     on that dict (Locked), and what it yields is taken as strong references before the
//     section ends; lookups use PyDict_GetItemRef.
//   - memoize's cache is a dict: a miss computes outside any lock and stores with one
//     setitem, so two threads missing at once may both call the function and the last
//     store wins; no torn entry can be seen.
//   - "Unshared" shortcuts (reusing an object nobody else holds) ask the interpreter's own
//     test, by which zip reuses its result tuple: owned by this thread, one local reference
//     and no shared ones. The global free lists are off: a freed object parked there would
//     be handed to whichever thread asks next, with no lock between them.
//   - The cached hash of a str is read with a relaxed atomic load, as the interpreter
//     itself stores it.
#pragma once
#include "utils/compat.hpp"

#include <atomic>

namespace tv {

// A critical section on one object for the life of the scope; nothing on builds with the
// interpreter lock. Python code run inside it may suspend it (as the lock is released
// around a blocking call), so it protects single operations, not whole loops with
// callbacks.
class Locked {
public:
#if TV_FREE_THREADED
    explicit Locked(PyObject* o) noexcept { PyCriticalSection_Begin(&cs_, o); }
    ~Locked() { PyCriticalSection_End(&cs_); }
#else
    explicit Locked(PyObject*) noexcept {}
#endif
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
#if TV_FREE_THREADED
    PyCriticalSection cs_;
#endif
};

// list[i] as a new reference, `i` >= 0; nullptr (no exception) once i is past the end.
// With the lock the caller's bounds check is all that is needed; without it the list may
// shrink between that check and the read.
inline PyObject* list_item(PyObject* list, Py_ssize_t i) noexcept {
#if TV_FREE_THREADED
    PyObject* x = PyList_GetItemRef(list, i);
    if (!x) PyErr_Clear();  // only an IndexError: the index passed the end
    return x;
#else
    return i < PyList_GET_SIZE(list) ? Py_NewRef(PyList_GET_ITEM(list, i)) : nullptr;
#endif
}

// A flag word shared between threads: atomic without the lock, a plain word with it.
#if TV_FREE_THREADED
template <class T>
using SharedWord = std::atomic<T>;
#else
template <class T>
class SharedWord {
public:
    constexpr SharedWord(T v = T()) noexcept : v_(v) {}
    T load(std::memory_order = std::memory_order_seq_cst) const noexcept { return v_; }
    void store(T v, std::memory_order = std::memory_order_seq_cst) noexcept { v_ = v; }
    T exchange(T v, std::memory_order = std::memory_order_seq_cst) noexcept {
        T old = v_;
        v_ = v;
        return old;
    }

private:
    T v_;
};
#endif

// Whether an object with one reference can be taken as unshared and changed in place.
// Without the lock a count of one is not enough (another thread's references are counted
// apart): the interpreter's own uniqueness test decides there.
inline bool sole_owner(PyObject* o) noexcept {
#if TV_FREE_THREADED
    return tv_uniquely_referenced(o);
#else
    return Py_REFCNT(o) == 1;
#endif
}

// The hash cached in a str object, -1 when not yet computed.
inline Py_hash_t cached_str_hash(PyObject* s) noexcept {
#if TV_FREE_THREADED
    return std::atomic_ref<Py_hash_t>(((PyASCIIObject*)s)->hash).load(std::memory_order_relaxed);
#else
    return ((PyASCIIObject*)s)->hash;
#endif
}

}  // namespace tv
