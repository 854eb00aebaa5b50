// The element source every pull loop of the module reads through. An exact list is read
// live by index (appends made while reading are seen; once the end was reached the source
// stays exhausted), an exact tuple by index, anything else through its iterator's cached
// tp_iternext, which is asked again after its end. Every read counts towards a signal
// check, so no loop over a source - a lazy step's or an eager tool's - ignores Ctrl-C.
#pragma once
#include "utils/errors.hpp"
#include "utils/signals.hpp"
#include "utils/threading.hpp"

#include <algorithm>
#include <utility>

namespace tv {

// After an iterator's step returned nullptr: true when that was its end (nothing pending,
// or a StopIteration raised explicitly, which is cleared), false for an error (left
// pending).
inline bool reached_end() noexcept {
    if (!PyErr_Occurred()) return true;
    if (!PyErr_ExceptionMatches(PyExc_StopIteration)) return false;
    PyErr_Clear();
    return true;
}

// One step through an iterator's own `next` slot: a new reference, or nullptr for the end
// (no exception) or an error (exception set).
inline PyObject* step_with(iternextfunc next, PyObject* it) noexcept {
    PyObject* r = next(it);
    if (!r) reached_end();
    return r;
}

inline PyObject* iter_next(PyObject* it) noexcept { return step_with(Py_TYPE(it)->tp_iternext, it); }

// PEP 424 hint of an iterator, 0 when it has none or fails with an ordinary error; -1
// with the exception set for one that must propagate (an interrupt, an exit request).
inline Py_ssize_t hint_or_zero(PyObject* it) noexcept {
    Py_ssize_t n = PyObject_LengthHint(it, 0);
    if (n < 0) return discard_ordinary_error() ? 0 : -1;
    return n;
}

// Whether pulling from `it` may pull from further iterators in turn. Lazy results stack
// (remove(p, remove(p, ...))) and each level's step calls the next level's step on the C
// stack, so such pulls pass through the interpreter's recursion guard: a deep chain
// raises RecursionError instead of overflowing. The built-in containers' iterators read
// memory only, and a generator's frame takes the guard itself, so those pull directly.
inline bool pulls_nested(PyObject* it) noexcept {
    PyTypeObject* tp = Py_TYPE(it);
    return !(tp == &PyListIter_Type || tp == &PyTupleIter_Type || tp == &PyRangeIter_Type ||
             tp == &PyLongRangeIter_Type || tp == &PyGen_Type || tp == &PyDictIterKey_Type ||
             tp == &PyDictIterValue_Type || tp == &PyDictIterItem_Type ||
             tp == &PySetIter_Type || tp == &PyUnicodeIter_Type || tp == &PyBytesIter_Type ||
             tp == &PyByteArrayIter_Type);
}

// One step of `it` (through `next`, its tp_iternext) as iter_next gives it; with `nested`
// it runs as one level of the interpreter's C recursion limit.
inline PyObject* pull(PyObject* it, iternextfunc next, bool nested) noexcept {
    if (!nested) [[likely]]
        return step_with(next, it);
    if (Py_EnterRecursiveCall(" while reading a nested iterator")) return nullptr;
    PyObject* r = step_with(next, it);
    Py_LeaveRecursiveCall();
    return r;
}

// The elements of a list are scattered objects, and reading each one's header is what a
// scan over them waits for: a scan at item i asks for the one a few places further on.
// Inlined early on purpose: a call whose only effect is a prefetch counts as pure to the
// optimiser, which then drops the call where it is not inlined first.
[[gnu::always_inline]] inline void prefetch_ahead(PyObject* const* items, size_t i,
                                                  size_t n) noexcept {
    constexpr size_t kAhead = 8;
    if (i + kAhead < n) __builtin_prefetch(items[i + kAhead]);
}

class Source {
public:
    Source() = default;
    // A moved-from source is cleared (exhausted), never left half valid.
    Source(Source&& o) noexcept { *this = std::move(o); }
    Source& operator=(Source&& o) noexcept {
        obj_ = std::move(o.obj_);
        next_ = std::exchange(o.next_, nullptr);
        index_ = o.index_;
        poll_ = o.poll_;
        list_ = o.list_;
        exhausted_ = std::exchange(o.exhausted_, true);
        nested_ = o.nested_;
        return *this;
    }
    // Returns false with the error of iter(obj) set.
    bool open(PyObject* obj) noexcept {
        if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
            obj_ = borrow(obj);
            list_ = PyList_CheckExact(obj);
            return true;
        }
        obj_ = steal(PyObject_GetIter(obj));
        if (!obj_) return false;
        next_ = Py_TYPE(obj_.get())->tp_iternext;
        nested_ = pulls_nested(obj_.get());
        return true;
    }
    // Whether it was opened (and not cleared since).
    bool valid() const noexcept { return bool(obj_); }
    // An exact list or tuple, read by index.
    bool is_seq() const noexcept { return !next_; }

    // New reference, or nullptr for end (no exception) / error (exception set). Inlined
    // into every hot loop: called out of line it costs a third of a lazy step.
    [[gnu::always_inline]] PyObject* next() noexcept {
        if (!poll_.ok()) [[unlikely]]
            return nullptr;
        return step();
    }
    // Hands every remaining element to `take(x)` (a new reference it takes over), which
    // returns false with an exception set to stop. True at the end of the input, false on
    // an error. The eager tools' loop: one signal check per kEvery elements, and the form
    // of the source decided once, outside the loop; flattened, so `take` is inlined into
    // each of the three loops.
    template <class Take>
    [[gnu::flatten]] bool drain(Take&& take) {
        if (!next_) return drain_with(take, [this] { return step(); });
        PyObject* it = obj_.get();
        iternextfunc slot = next_;
        if (nested_) return drain_with(take, [=] { return pull(it, slot, true); });
        return drain_with(take, [=] { return step_with(slot, it); });
    }
    // Sequence form only: up to `max` elements in one go (new references written to
    // `out`), exactly as that many next() calls would give them; returns how many were
    // taken, or -1 with the signal handler's exception set.
    Py_ssize_t take_seq(PyObject** out, size_t max) noexcept {
        if (exhausted_) return 0;
        if (!poll_.ok()) return -1;
        PyObject* s = obj_.get();
        Py_ssize_t avail = size() - (Py_ssize_t)index_;
        size_t k = max;
        if (avail <= 0 || (size_t)avail < max) {
            exhausted_ = true;
            k = avail > 0 ? (size_t)avail : 0;
        }
        if (TV_FREE_THREADED && list_) {
            // Another thread may shrink the list meanwhile: that ends the read early.
            for (size_t i = 0; i < k; ++i) {
                out[i] = list_item(s, (Py_ssize_t)(index_ + i));
                if (!out[i]) {
                    exhausted_ = true;
                    k = i;
                }
            }
        } else {
            PyObject** from = items() + index_;
            for (size_t i = 0; i < k; ++i) out[i] = Py_NewRef(from[i]);
        }
        index_ += k;
        return (Py_ssize_t)k;
    }
    // Sequence form, builds with the interpreter lock: the element k places after the one
    // last handed out (borrowed), or nullptr. For prefetching only: a callback may have
    // replaced it by the time the walk gets there.
    [[gnu::always_inline]] PyObject* upcoming(size_t k) const noexcept {
        if (TV_FREE_THREADED || next_) return nullptr;
        size_t at = index_ - 1 + k;
        return at < (size_t)size() ? items()[at] : nullptr;
    }
    // What scan() does with the element it was handed.
    enum class Seen { kSkip, kTake, kStop, kFail };
    // Sequence form only: hands the elements, borrowed, to `see(x)`: kSkip consumes x and
    // goes on, kTake consumes it and returns it as a new reference, kStop leaves it unread
    // for next() and returns nullptr with `stopped` set, kFail (an exception set by `see`)
    // returns nullptr. nullptr otherwise means the end (no exception) or the signal
    // handler's exception. Runs of a list are read inside a
    // critical section on it, so `see` must run no Python code and take no other lock:
    // either would let another thread change the list under the borrowed pointers. What
    // this saves is a reference taken and dropped for every element skipped.
    template <class See>
    PyObject* scan(See&& see, bool& stopped) {
        constexpr size_t kRun = 256;
        stopped = false;
        PyObject* s = obj_.get();
        while (!exhausted_) {
            if (!poll_.ok((uint32_t)kRun)) return nullptr;
            Locked lock(s);
            Py_ssize_t n = size();
            if ((Py_ssize_t)index_ >= n) {
                exhausted_ = true;
                return nullptr;
            }
            PyObject** from = items();
            size_t end = std::min((size_t)n, index_ + kRun);
            while (index_ < end) {
                prefetch_ahead(from, index_, (size_t)n);
                PyObject* x = from[index_];
                Seen r = see(x);  // may throw: x is then left unread
                if (r == Seen::kStop || r == Seen::kFail) {
                    stopped = r == Seen::kStop;
                    return nullptr;
                }
                ++index_;
                if (r == Seen::kTake) return Py_NewRef(x);
            }
        }
        return nullptr;
    }
    // Skips up to n elements, an ordinary error raised by the iterator counting as a
    // skipped element. 1 when all were skipped, 0 when the source ended first, -1 with an
    // exception that must propagate (an interrupt, an exit request, an internal error).
    int skip(uint64_t n) noexcept {
        for (uint64_t i = 0; i < n; ++i) {
            if (PyObject* x = next()) {
                Py_DECREF(x);
                continue;
            }
            if (!PyErr_Occurred()) return 0;
            if (!discard_ordinary_error()) return -1;
        }
        return 1;
    }
    // Remaining elements: exact for lists and tuples, the iterator's own hint otherwise;
    // -1 with an exception set when asking the iterator raised one that must propagate.
    Py_ssize_t remaining() const noexcept {
        if (!obj_) return 0;
        if (next_) return hint_or_zero(obj_.get());
        if (exhausted_) return 0;
        Py_ssize_t n = size() - (Py_ssize_t)index_;
        return n > 0 ? n : 0;
    }
    int traverse(visitproc visit, void* arg) const {
        Py_VISIT(obj_.get());
        return 0;
    }
    // Drops the input; a cleared source is exhausted (and stays so).
    void clear() noexcept {
        obj_.reset();
        next_ = nullptr;
        exhausted_ = true;
    }

private:
    template <class Take, class Step>
    [[gnu::always_inline]] bool drain_with(Take& take, Step&& step) {
        for (;;) {
            if (!poll_.ok()) return false;
            for (uint32_t k = SignalPoll::kEvery; k; --k) {
                PyObject* x = step();
                if (!x) return !PyErr_Occurred();
                if (!take(x)) return false;
            }
            poll_.expire();
        }
    }
    // next() without the signal check.
    [[gnu::always_inline]] PyObject* step() noexcept {
        if (next_) return pull(obj_.get(), next_, nested_);
        if (exhausted_) return nullptr;
        PyObject* s = obj_.get();
        if (TV_FREE_THREADED && list_) {
            PyObject* x = list_item(s, (Py_ssize_t)index_);
            if (!x) exhausted_ = true;
            else ++index_;
            return x;
        }
        size_t n = (size_t)Py_SIZE(s);
        if (index_ >= n) {
            exhausted_ = true;
            return nullptr;
        }
        PyObject** from = items();
        prefetch_ahead(from, index_, n);
        return Py_NewRef(from[index_++]);
    }
    // The length as it is now; a list's is read the way the list itself publishes it.
    Py_ssize_t size() const noexcept {
        PyObject* s = obj_.get();
        return list_ ? PyList_GET_SIZE(s) : PyTuple_GET_SIZE(s);
    }
    // Read again at every step: a list's array moves when it grows.
    PyObject** items() const noexcept {
        PyObject* s = obj_.get();
        return list_ ? ((PyListObject*)s)->ob_item : ((PyTupleObject*)s)->ob_item;
    }

    Ref obj_;
    iternextfunc next_ = nullptr;  // null for the sequence form
    size_t index_ = 0;
    SignalPoll poll_;
    bool list_ = false;
    bool exhausted_ = false;
    bool nested_ = false;
};

// Every element of `seq` in a new list (a copy for an exact list or tuple); nullptr with
// an exception set.
inline PyObject* list_of(PyObject* seq) noexcept {
    if (PyList_CheckExact(seq) || PyTuple_CheckExact(seq)) return PySequence_List(seq);
    Source src;
    if (!src.open(seq)) return nullptr;
    Ref out = steal(PyList_New(0));
    if (!out) return nullptr;
    bool ended = src.drain([&](PyObject* x) {
        Ref held = steal(x);
        return PyList_Append(out.get(), x) == 0;
    });
    return ended ? out.release() : nullptr;
}

}  // namespace tv
