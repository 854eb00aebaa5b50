// interpose: the elements of a stream with one separator object between every two of them.
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/native_iter.hpp"
#include "utils/registry.hpp"
#include "utils/source.hpp"

namespace tv::seq {

namespace {

// Doubling a remaining count without wrapping: a hint only needs to be large, not exact,
// once it passes what any container could hold.
Py_ssize_t sat_add(Py_ssize_t a, Py_ssize_t b) {
    return a > PY_SSIZE_T_MAX - b ? PY_SSIZE_T_MAX : a + b;
}

// The separator: read by every separator step, never changed by one, so it lies outside the
// guarded state.
struct InterposeFixed {
    Ref el;
    int traverse(visitproc visit, void* arg) const {
        Py_VISIT(el.get());
        return 0;
    }
    void clear() { el.reset(); }
};

struct InterposeState {
    using Fixed = InterposeFixed;
    static constexpr const char* kName = "InterposeIter";
    static constexpr const char* kDoc =
        "Dedicated iterator for interpose(): reads its source directly (exact lists by\n"
        "index) and costs one reference increment of the separator per separator. The\n"
        "separator lives outside the guarded state because it never changes.";
    static constexpr const char* kHintDoc =
        "__length_hint__($self)\n--\n\nk source items yield 2k-1 outputs (a separator before "
        "every item but\nthe first). Exact for list sources, the source's own hint otherwise.";

    // With `first` the iterator starts eagerly (that element pending, as if already
    // started); without it nothing has been read yet.
    InterposeState(Source src, Ref first)
        : source(std::move(src)), pending(std::move(first)), started(bool(pending)) {}

    Source source;
    Ref pending;   // taken from the source, returned after the separator that precedes it
    bool started;  // the first element was returned or is pending
    bool done = false;

    PyObject* next(const InterposeFixed& fixed) {
        if (pending) return pending.release();
        if (done) return nullptr;
        PyObject* x = source.next();
        if (!x) {
            // An error leaves the state as it was: the next step asks the source again.
            if (!PyErr_Occurred()) done = true;
            return nullptr;
        }
        if (!started) {
            started = true;
            return x;
        }
        pending.reset(x);
        return Py_NewRef(fixed.el.get());
    }

    Py_ssize_t hint() {
        if (done) return 0;
        Py_ssize_t k = source.remaining();
        if (k < 0) return -1;
        Py_ssize_t h = sat_add(k, k);
        if (pending) return sat_add(h, 1);
        if (started) return h;
        return h > 0 ? h - 1 : 0;
    }

    int traverse(visitproc visit, void* arg) { return visit_refs(visit, arg, pending, source); }
    void clear() {
        done = true;
        pending.reset();
        source.clear();
    }
};

using InterposeIter = LazyIter<InterposeState>;

TV_REGISTER("#InterposeIter", InterposeIter::make_type);

}  // namespace

PyObject* interpose_lazy(PyObject* el, PyObject* seq) {
    Source src;
    if (!src.open(seq)) return nullptr;
    return InterposeIter::create_with({borrow(el)}, std::move(src), Ref());
}

}  // namespace tv::seq

using namespace tv;
using namespace tv::seq;

TV_FUNCTION(interpose, "interpose(el, seq)") {
    Source src;
    if (!src.open(a[1])) return nullptr;
    Ref first = steal(src.next());
    if (!first) return PyErr_Occurred() ? nullptr : stop_iteration();
    return InterposeIter::create_with({borrow(a[0])}, std::move(src), std::move(first));
}
