// partition and partition_all: non-overlapping chunks of n elements as tuples.
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/native_iter.hpp"
#include "utils/refvec.hpp"
#include "utils/source.hpp"

namespace tv::seq {

namespace {

// Chunk arrays reserve at most this many slots up front, so a huge n costs nothing until
// elements actually arrive; the storage is kept between steps up to the same size.
constexpr size_t kMaxReserve = 4096;

enum class Tail : uint8_t { Drop, Pad, Short };

// One chunk per step. There is no end flag: a step after the end asks the source again.
struct ChunkStep {
    ChunkStep(Source src, size_t size, Tail tail, Ref pad)
        : source_(std::move(src)), n_(size), tail_(tail), pad_(std::move(pad)) {}

    PyObject* next() { return n_ <= kMaxReserve ? step_direct() : step_buffered(); }

    int traverse(visitproc visit, void* arg) {
        if (int r = visit_refs(visit, arg, source_, pad_)) return r;
        return buf_.traverse(visit, arg);
    }

private:
    // Small chunks are gathered straight into their tuple (whose empty slots the collector
    // and the deallocator both skip).
    PyObject* step_direct() {
        Ref t = steal(PyTuple_New((Py_ssize_t)n_));
        if (!t) return nullptr;
        PyObject** items = ((PyTupleObject*)t.get())->ob_item;
        size_t k = 0;
        if (source_.is_seq()) {
            Py_ssize_t got = source_.take_seq(items, n_);
            if (got < 0) return nullptr;
            k = (size_t)got;
        } else {
            for (; k < n_; ++k) {
                PyObject* x = source_.next();
                if (!x) {
                    if (PyErr_Occurred()) return nullptr;
                    break;
                }
                items[k] = x;
            }
        }
        if (k == n_) return t.release();
        if (k == 0 || tail_ == Tail::Drop) return nullptr;
        if (tail_ == Tail::Short) return PyTuple_GetSlice(t.get(), 0, (Py_ssize_t)k);
        for (; k < n_; ++k) items[k] = Py_NewRef(pad_.get());
        return t.release();
    }

    // Large chunks grow an array as elements arrive, so a huge n costs nothing up front.
    PyObject* step_buffered() {
        if (buf_.capacity() == 0) buf_.reserve(kMaxReserve);
        bool failed = false;
        while (buf_.size() < n_) {
            PyObject* x = source_.next();
            if (!x) {
                failed = PyErr_Occurred() != nullptr;
                break;
            }
            buf_.push(x);
        }
        PyObject* t = failed ? nullptr : pack();
        buf_.clear();
        if (buf_.capacity() > kMaxReserve) buf_.drop_storage();
        return t;
    }

    // The gathered elements as a tuple: full, padded, short or none, by the tail rule.
    PyObject* pack() {
        size_t k = buf_.size();
        if (k == 0 || (k < n_ && tail_ == Tail::Drop)) return nullptr;
        size_t size = k < n_ && tail_ == Tail::Short ? k : n_;
        PyObject* t = PyTuple_New((Py_ssize_t)size);
        if (!t) return nullptr;
        buf_.move_into(t);
        PyObject** items = ((PyTupleObject*)t)->ob_item;
        for (; k < size; ++k) items[k] = Py_NewRef(pad_.get());
        return t;
    }

    // An exact list or tuple is read by index: the same live reading as its own iterator,
    // without the protocol call per element.
    Source source_;
    size_t n_;
    Tail tail_;
    Ref pad_;
    RefVec buf_;  // the chunk being gathered
};

}  // namespace

PyObject* partition_all_impl(uint64_t n, PyObject* seq) {
    Source src;
    if (!src.open(seq)) return nullptr;
    // A zero-sized chunk would be "full" at once and repeat forever: nothing is yielded.
    if (n == 0) return empty_iter();
    return make_native_iter<ChunkStep>(std::move(src), (size_t)n, Tail::Short, Ref());
}

}  // namespace tv::seq

using namespace tv;
using namespace tv::seq;

TV_FUNCTION(partition, "partition(n, seq, *rest)", {"n", Conv::I64}, tail_at_most(1)) {
    int64_t n = a.i64(0);
    if (n < 1) return empty_iter();
    Source src;
    if (!src.open(a[1])) return nullptr;
    Tail tail = a.nrest ? Tail::Pad : Tail::Drop;
    Ref pad = a.nrest ? borrow(a.rest[0]) : Ref();
    return make_native_iter<ChunkStep>(std::move(src), (size_t)n, tail, std::move(pad));
}

TV_FUNCTION(partition_all, "partition_all(n, seq)", {"n", Conv::I64}) {
    int64_t n = a.i64(0);
    if (n < 1) return empty_iter();
    return partition_all_impl((uint64_t)n, a[1]);
}
