// frequencies(seq): counts of each distinct element, keys in order of first occurrence.
// Integer buffers, and lists or tuples of small ints, are counted as raw machine integers;
// everything else by hash and == in a native index (or, for mostly distinct input,
// straight in the result dict: see Tally).
#include "seqtools/seqtools.hpp"
#include "seqtools/tally.hpp"

#include "utils/binder.hpp"
#include "utils/int_buffer.hpp"
#include "utils/int_table.hpp"
#include "utils/threading.hpp"
#include "utils/walk.hpp"

#include <algorithm>
#include <vector>

namespace tv::seq {

namespace {

// The result is built once the number of keys is known: sized up front, it never rehashes.
PyObject* new_result_dict(size_t n) {
    return _PyDict_NewPresized(n > (size_t)PY_SSIZE_T_MAX ? PY_SSIZE_T_MAX : (Py_ssize_t)n);
}

// Mostly distinct values, counted straight in the result dict (as Tally does it): a native
// table would hold every value once more, and at millions of them that second table is what
// the time goes into. `room`: the keys expected.
template <class T>
PyObject* count_ints_in_dict(const T* p, size_t n, size_t room) {
    Ref out = steal(new_result_dict(room));
    if (!out) return ffi_err();
    for (size_t i = 0; i < n; ++i) {
        if (i && i % kScanRun == 0 && PyErr_CheckSignals()) return nullptr;
        Ref key = steal(box_int(p[i]));
        if (!key) return ffi_err();
        if (!count_in_dict(out.get(), key.get())) return nullptr;
    }
    return out.release();
}

template <class T>
PyObject* count_ints(const T* p, size_t n) {
    IntMap<T, uint64_t> counts;
    std::vector<T> order;  // each distinct value once, in order of first occurrence
    for (size_t from = 0; from < n;) {
        if (from && PyErr_CheckSignals()) return nullptr;
        // The first run is the probe of how distinct the values are.
        size_t run = from ? kScanRun : Tally::kProbe;
        size_t to = n - from > run ? from + run : n;
        counts.stream(
            p, from, to, [](uint64_t* c) { ++*c; },
            [&](T v, uint64_t* c) {
                *c = 1;
                order.push_back(v);
                return false;
            });
        if (!from && to < n && Tally::mostly_distinct(order.size()))
            return count_ints_in_dict(p, n, n / Tally::kProbe * order.size());
        from = to;
    }
    Ref out = steal(new_result_dict(order.size()));
    if (!out) return ffi_err();
    for (T v : order) {
        Ref key = steal(box_int(v));
        if (!key) return ffi_err();
        Ref count = steal(PyLong_FromUnsignedLongLong(*counts.find(v)));
        if (!count || PyDict_SetItem(out.get(), key.get(), count.get()) < 0) return ffi_err();
    }
    return out.release();
}

#if TV_HAVE_LV_TAG
// An exact list or tuple of small exact ints (ids, codes, small counts: the commonest
// input) is counted by value, as an integer buffer is, with no reference taken per
// element. Without the interpreter lock that is what lets threads count lists of their
// own in parallel: a reference taken to an element another thread created goes through
// its shared, atomic count. The key kept for each value is its first occurrence, as the
// generic path keeps it. nullopt (no exception) at the first element of another kind, or
// when the values turn out mostly distinct, before any has been counted for the caller. Runs of elements are read inside a
// critical section on the list, in which no Python code runs; between runs another
// thread or a signal handler may change the list, which is then read as it is, the way a
// list iterator reads one.
std::optional<PyObject*> count_small_int_items(PyObject* seq) {
    bool is_list = PyList_CheckExact(seq);
    if (!is_list && !PyTuple_CheckExact(seq)) return std::nullopt;
    constexpr size_t kRun = 256;
    static_assert(Tally::kProbe % kRun == 0);
    IntMap<int64_t, uint64_t> counts;
    std::vector<Ref> keys;  // each distinct value's first occurrence, in order
    int64_t vals[kRun];
    auto hit = [](uint64_t* c) { ++*c; };
    for (size_t pos = 0;;) {
        if (pos && pos % kScanRun == 0 && PyErr_CheckSignals()) return nullptr;
        Locked lock(seq);
        size_t n = (size_t)(is_list ? PyList_GET_SIZE(seq) : PyTuple_GET_SIZE(seq));
        if (pos >= n) break;
        size_t k = std::min(kRun, n - pos);
        PyObject** items =
            (is_list ? ((PyListObject*)seq)->ob_item : ((PyTupleObject*)seq)->ob_item) + pos;
        for (size_t i = 0; i < k; ++i) {
            PyObject* x = items[i];
            if (Py_TYPE(x) != &PyLong_Type || !int_is_small(x)) return std::nullopt;
            vals[i] = small_int_value(x);
        }
        for (size_t j = 0; j < k;) {
            bool fresh = false;
            j = counts.stream(vals, j, k, hit, [&](int64_t, uint64_t* c) {
                *c = 1;
                return fresh = true;
            });
            if (fresh) keys.push_back(borrow(items[j - 1]));
        }
        pos += k;
        // Mostly distinct values pay twice here (a table insertion now, a dict insertion at
        // the end): the generic path counts those straight in the result dict.
        if (pos == Tally::kProbe && Tally::mostly_distinct(keys.size())) return std::nullopt;
    }
    Ref out = steal(new_result_dict(keys.size()));
    if (!out) return ffi_err();
    for (const Ref& key : keys) {
        Ref count = steal(PyLong_FromUnsignedLongLong(*counts.find(small_int_value(key.get()))));
        if (!count || PyDict_SetItem(out.get(), key.get(), count.get()) < 0) return ffi_err();
    }
    return out.release();
}
#endif

PyObject* count_objects(PyObject* seq) {
    Tally tally(known_length(seq));
    Source src;
    if (!src.open(seq)) return nullptr;
    if (src.is_seq()) {
        // Plain keys counted in the native table need no reference of their own. The scan
        // pauses (handing back the key just counted) for the move of the counts into a
        // dict, which allocates objects, and ends at the first other element.
        while (!tally.in_dict()) {
            bool stopped;
            Ref paused = steal(src.scan(
                [&](PyObject* x) {
                    if (!plain_key(x)) return Source::Seen::kStop;
                    if (!tally.add_to_table(x)) return Source::Seen::kFail;
                    return tally.move_due() ? Source::Seen::kTake : Source::Seen::kSkip;
                },
                stopped));
            if (paused) {
                if (!tally.move()) return ffi_err();
                continue;
            }
            if (stopped) break;
            return PyErr_Occurred() ? ffi_err() : tally.result();
        }
    }
    bool ended = src.drain([&](PyObject* x) {
        Ref held = steal(x);
        return tally.add(x);
    });
    return ended ? tally.result() : ffi_err();
}

}  // namespace

PyObject* frequencies_impl(PyObject* seq) {
    if (std::optional<PyObject*> r = with_int_elements(
            seq, [&](auto* data, size_t n) { return count_ints(data, n); }))
        return *r;
#if TV_HAVE_LV_TAG
    if (std::optional<PyObject*> r = count_small_int_items(seq)) return *r;
#endif
    return count_objects(seq);
}

}  // namespace tv::seq

TV_FUNCTION(frequencies, "frequencies(seq)") { return tv::seq::frequencies_impl(a[0]); }
