// unique(seq, key=None): lazy deduplication with two dedicated iterator types, a general
// one over any iterable and a native scanner for integer buffers.
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/int_buffer.hpp"
#include "utils/int_table.hpp"
#include "utils/key_table.hpp"
#include "utils/native_iter.hpp"
#include "utils/registry.hpp"
#include "utils/source.hpp"

#include <algorithm>
#include <variant>

namespace tv::seq {

namespace {

struct UniqueState {
    static constexpr const char* kName = "UniqueIter";
    static constexpr const char* kDoc =
        "Dedicated iterator for unique(): each element (or its key) is hashed once and\n"
        "probed once in a native seen-set, instead of a membership test plus an insertion\n"
        "on a Python set. Re-entering it from a key, __hash__ or __eq__ raises ValueError\n"
        "\"iterator already executing\".";
    static constexpr const char* kHintDoc =
        "__length_hint__($self)\n--\n\nUpper bound (PEP 424 allows estimates): every remaining "
        "source\nelement could be new. Lets consumers preallocate.";

    KeySet seen;
    Source source;
    Ref key;
    // While every element so far was a plain key, so is every key of the seen-set: a list
    // or tuple is then scanned with its elements borrowed, and only new ones referenced.
    bool plain;

    UniqueState(Source&& src, PyObject* k)
        : seen(int_fast_hash_enabled()), source(std::move(src)), key(borrow(k)),
          plain(!k && source.is_seq()) {}

    PyObject* next() {
        if (plain) {
            bool stopped;
            PyObject* x = source.scan(
                [this](PyObject* e) {
                    if (!plain_key(e)) return Source::Seen::kStop;
                    // Only a recursion limit hit while comparing can fail here.
                    int added = seen.insert(e);
                    if (added < 0) return Source::Seen::kFail;
                    return added ? Source::Seen::kTake : Source::Seen::kSkip;
                },
                stopped);
            if (!stopped) return x;
            plain = false;
        }
        for (;;) {
            Ref x = steal(source.next());
            if (!x) return nullptr;
            int added;
            if (key) {
                PyObject* arg = x.get();
                Ref k = steal(PyObject_Vectorcall(key.get(), &arg, 1, nullptr));
                if (!k) return ffi_err();
                added = seen.insert(k.get());
            } else {
                added = seen.insert(x.get());
            }
            if (added < 0) return nullptr;
            if (added) return x.release();
        }
    }
    Py_ssize_t hint() { return source.remaining(); }
    int traverse(visitproc visit, void* arg) {
        Py_VISIT(key.get());
        if (int r = source.traverse(visit, arg)) return r;
        return seen.traverse(visit, arg);
    }
    void clear() {
        key.reset();
        source.clear();
        seen.clear();
    }
};

// Both 64-bit kinds share the signed 64-bit set (same bits, same hash).
template <class T>
using SeenKey = std::conditional_t<std::is_same_v<T, uint64_t>, int64_t, T>;
using IntSeen = std::variant<IntSet<int64_t>, IntSet<uint8_t>, IntSet<int32_t>, IntSet<uint32_t>,
                             IntSet<int16_t>, IntSet<uint16_t>, IntSet<int8_t>>;

struct UniqueIntState {
    static constexpr const char* kName = "UniqueIntIter";
    static constexpr const char* kDoc =
        "Lazy unique() over a one-dimensional contiguous integer buffer: scans the raw\n"
        "values natively, remembers them in a native integer set and creates Python ints\n"
        "only for the values it yields, so early exits such as\n"
        "take(5, unique(big_array)) read and box only what they need.";
    static constexpr const char* kHintDoc =
        "__length_hint__($self)\n--\n\nUpper bound (PEP 424 allows estimates): every remaining "
        "element\ncould be new.";

    IntBuf buf;
    const void* data;  // the contiguous elements; the view cannot change while it is held
    IntSeen seen;
    size_t pos = 0;

    explicit UniqueIntState(IntBuf&& b) : buf(std::move(b)), data(buf.data()) {
        visit_kind(buf.kind(), [&](auto tag) {
            using T = typename decltype(tag)::type;
            seen.emplace<IntSet<SeenKey<T>>>();
        });
    }

    template <class T>
    PyObject* scan() {
        if (!buf.held()) return nullptr;  // released by the garbage collector
        const T* p = (const T*)data;
        auto& set = std::get<IntSet<SeenKey<T>>>(seen);
        size_t n = buf.count();
        if (pos >= n) return nullptr;
        // Values are read as the set's key type (the same bits for unsigned 64-bit). Long
        // runs of repeats are scanned in bounded runs with a signal check between two.
        bool found = false;
        for (bool first = true; !found && pos < n; first = false) {
            if (!first && PyErr_CheckSignals()) return nullptr;
            size_t to = n - pos > kScanRun ? pos + kScanRun : n;
            pos = set.stream((const SeenKey<T>*)p, pos, to, [](char*) {},
                             [&](SeenKey<T>, char*) {
                                 found = true;
                                 return true;
                             });
        }
        return found ? box_int(p[pos - 1]) : nullptr;
    }
    PyObject* next() {
        return visit_kind(buf.kind(), [&](auto tag) {
            return scan<typename decltype(tag)::type>();
        });
    }
    // Every remaining element could be new, but no more values than the element kind has
    // left unseen: list() preallocates the hint, and 20 MB of bytes yield 256 values.
    Py_ssize_t hint() {
        size_t n = buf.count();
        size_t left = n > pos ? n - pos : 0;
        size_t unseen = visit_kind(buf.kind(), [&](auto tag) -> size_t {
            using T = typename decltype(tag)::type;
            if constexpr (sizeof(T) >= sizeof(size_t)) return left;
            else return (size_t(1) << (8 * sizeof(T))) - std::get<IntSet<SeenKey<T>>>(seen).size();
        });
        return (Py_ssize_t)std::min(left, unseen);
    }
    int traverse(visitproc visit, void* arg) {
        Py_VISIT(buf.exporter());
        return 0;
    }
    void clear() { buf.release(); }
};

using UniqueIter = LazyIter<UniqueState>;
using UniqueIntIter = LazyIter<UniqueIntState>;

TV_REGISTER("#UniqueIter", UniqueIter::make_type);
TV_REGISTER("#UniqueIntIter", UniqueIntIter::make_type);

}  // namespace

PyObject* unique_impl(PyObject* seq, PyObject* key) {
    if (key == Py_None) key = nullptr;
    if (!key) {
        std::optional<IntBuf> buf = int_buffer(seq);
        if (buf && buf->data()) return UniqueIntIter::create(std::move(*buf));
        if (!buf && PyErr_Occurred()) return nullptr;
    }
    Source src;
    if (!src.open(seq)) return nullptr;
    return UniqueIter::create(std::move(src), key);
}

}  // namespace tv::seq

TV_FUNCTION(unique, "unique(seq, key=None)") { return tv::seq::unique_impl(a[0], a[1]); }
