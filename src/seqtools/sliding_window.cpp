// sliding_window: overlapping windows of n consecutive elements, each window tuple built
// straight from the previous one.
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/native_iter.hpp"
#include "utils/refvec.hpp"
#include "utils/registry.hpp"
#include "utils/source.hpp"

#include <algorithm>

namespace tv::seq {

namespace {

// Priming reserves at most this many slots up front, so a huge n costs nothing until
// elements actually arrive.
constexpr size_t kMaxReserve = 4096;

struct WindowState {
    static constexpr const char* kName = "SlidingWindowIter";
    static constexpr const char* kDoc =
        "Dedicated iterator for sliding_window(): each window tuple is built directly\n"
        "from the previous one (or from the priming buffer for the first), with no\n"
        "intermediate array per window. A source that advances this iterator from its\n"
        "own __next__ gets ValueError 'iterator already executing'.";
    static constexpr const char* kHintDoc =
        "__length_hint__($self)\n--\n\nExact for list sources (one window per remaining "
        "element once\nprimed), the source's own hint otherwise.";

    WindowState(Source src, RefVec primed, size_t size)
        : source(std::move(src)), prime(std::move(primed)), n(size) {}

    Source source;
    RefVec prime;  // before the first window: the first n - 1 elements
    Ref window;    // afterwards: the window last returned; its tail starts the next one
    size_t n;
    bool done = false;

    PyObject* next() {
        if (done) return nullptr;
        Ref x = steal(source.next());
        if (!x) {
            if (!PyErr_Occurred()) done = true;
            return nullptr;
        }
        PyObject* prev = window.get();
        // A source that ran out while priming can never fill a window; checking before the
        // tuple exists keeps a huge n from allocating one.
        if (!prev && prime.size() != n - 1) {
            done = true;
            return nullptr;
        }
#if PY_VERSION_HEX < 0x030E0000
        // Nobody else holds the last window: shift it in place instead of allocating a new
        // one (the element dropped off the front is released once the tuple is whole
        // again). Interpreters from 3.14 cache tuple hashes, so there it is always rebuilt.
        if (prev && sole_owner(prev)) {
            PyObject** items = ((PyTupleObject*)prev)->ob_item;
            PyObject* gone = items[0];
            for (size_t i = 0; i + 1 < n; ++i) items[i] = items[i + 1];
            items[n - 1] = x.release();
            // The collector may have untracked a tuple of atomic values; the new element
            // may be a container.
            if (!PyObject_GC_IsTracked(prev)) PyObject_GC_Track(prev);
            Py_DECREF(gone);
            return Py_NewRef(prev);
        }
#endif
        PyObject* t = PyTuple_New((Py_ssize_t)n);
        if (!t) return ffi_err();
        if (prev) {
            PyObject** src = ((PyTupleObject*)prev)->ob_item + 1;
            PyObject** dst = ((PyTupleObject*)t)->ob_item;
            for (size_t i = 0; i + 1 < n; ++i) dst[i] = Py_NewRef(src[i]);
        } else {
            prime.move_into(t);
            prime.drop_storage();
        }
        PyTuple_SET_ITEM(t, (Py_ssize_t)n - 1, x.release());
        window.reset(Py_NewRef(t));
        return t;
    }

    Py_ssize_t hint() {
        if (done || (!window && prime.size() != n - 1)) return 0;
        return source.remaining();
    }

    int traverse(visitproc visit, void* arg) {
        Py_VISIT(window.get());
        if (int r = prime.traverse(visit, arg)) return r;
        return source.traverse(visit, arg);
    }
    void clear() {
        done = true;
        window.reset();
        prime.clear();
        source.clear();
    }
};

using SlidingWindowIter = LazyIter<WindowState>;

TV_REGISTER("#SlidingWindowIter", SlidingWindowIter::make_type);

}  // namespace

PyObject* sliding_window_impl(uint64_t n, PyObject* seq) {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        if (n == 0) return empty_iter();
        Source src;
        if (!src.open(seq)) return nullptr;
        RefVec prime;
        size_t want = (size_t)n - 1;
        if (want) {
            prime.reserve(std::min(want, kMaxReserve));
            while (prime.size() < want) {
                PyObject* x = src.next();
                if (!x) {
                    if (PyErr_Occurred()) return nullptr;
                    break;
                }
                prime.push(x);
            }
        }
        return SlidingWindowIter::create(std::move(src), std::move(prime), (size_t)n);
    });
}

}  // namespace tv::seq

using namespace tv;
using namespace tv::seq;

TV_FUNCTION(sliding_window, "sliding_window(n, seq)", {"n", Conv::I64}) {
    int64_t n = a.i64(0);
    if (n < 0) {
        PyErr_SetString(PyExc_ValueError, "n must be >= 0");
        return nullptr;
    }
    return sliding_window_impl((uint64_t)n, a[1]);
}
