// Stream combinators: concat, concatv, mapcat (standard-library chains), and interleave,
// iterate, accumulate, remove (native steps).
#include "seqtools/seqtools.hpp"

#include "utils/binder.hpp"
#include "utils/cached.hpp"
#include "utils/hashing.hpp"
#include "utils/call.hpp"
#include "utils/native_iter.hpp"
#include "utils/source.hpp"

#include <atomic>
#include <cstring>
#include <vector>

namespace tv::seq {

namespace {

CachedAttr CHAIN_FROM_ITERABLE{"itertools", "chain.from_iterable", {}};
CachedAttr BUILTINS_MAP{"builtins", "map", {}};

}  // namespace

PyObject* concat_impl(PyObject* seqs) {
    PyObject* chain = cached_attr(CHAIN_FROM_ITERABLE);
    if (!chain) return nullptr;
    return direct_call(chain, seqs);
}

PyObject* mapcat_impl(PyObject* func, PyObject* seqs) {
    PyObject* map = cached_attr(BUILTINS_MAP);
    if (!map) return nullptr;
    PyObject* args[] = {func, seqs};
    Ref mapped = steal(PyObject_Vectorcall(map, args, 2, nullptr));
    if (!mapped) return ffi_err();
    return concat_impl(mapped.get());
}

namespace {

// Round robin over iterators; an exhausted one leaves the rotation, the others keep their
// order. An error leaves both the iterator and the position where they were, so the next
// step asks the same iterator again.
struct InterleaveStep {
    explicit InterleaveStep(std::vector<Source>&& its) noexcept : its_(std::move(its)) {}

    PyObject* next() {
        while (!its_.empty()) {
            if (pos_ >= its_.size()) pos_ = 0;
            Source& s = its_[pos_];
            if (PyObject* x = s.next()) {
                ++pos_;
                return x;
            }
            if (PyErr_Occurred()) return nullptr;
            // Out of the array before it is released: its __del__ may run Python code.
            Source dead = std::move(s);
            its_.erase(its_.begin() + (std::ptrdiff_t)pos_);
        }
        return nullptr;
    }
    int traverse(visitproc visit, void* arg) {
        for (const Source& s : its_)
            if (int e = s.traverse(visit, arg)) return e;
        return 0;
    }

private:
    std::vector<Source> its_;
    size_t pos_ = 0;
};

// x, f(x), f(f(x)), ...; once f has raised there is no current value and every later step
// ends the iteration.
struct IterateStep {
    IterateStep(Ref func, Ref x) noexcept : func_(std::move(func)), cur_(std::move(x)) {}

    PyObject* next() {
        Ref v = std::move(cur_);
        if (!v) return nullptr;
        if (first_) {
            first_ = false;
            cur_ = v.dup();
            return v.release();
        }
        PyObject* r = direct_call(func_.get(), v.get());
        v.reset();
        if (!r) return nullptr;
        cur_ = borrow(r);
        return r;
    }
    int traverse(visitproc visit, void* arg) { return visit_refs(visit, arg, func_, cur_); }

private:
    Ref func_;
    Ref cur_;
    bool first_ = true;
};

CachedAttr OPERATOR_MODULE{"_operator", nullptr, {}};

struct NumberBuiltin {
    const char* name;
    binaryfunc fn;
    std::atomic<const PyMethodDef*> def{nullptr};
};

NumberBuiltin number_builtins[] = {
    {"add", PyNumber_Add, {}}, {"sub", PyNumber_Subtract, {}}, {"mul", PyNumber_Multiply, {}},
    {"and_", PyNumber_And, {}}, {"or_", PyNumber_Or, {}},      {"xor", PyNumber_Xor, {}},
};
std::atomic<bool> number_builtins_known{false};

// Finds the method definitions of the operator module's binary builtins in the module's own
// C table (which no Python code can patch). False when the module is not to be had: with
// the exception set when it must propagate, without one when the builtins are just unknown.
bool learn_number_builtins() noexcept {
    PyObject* mod = cached_attr(OPERATOR_MODULE);
    PyModuleDef* def = mod ? PyModule_GetDef(mod) : nullptr;
    if (!def || !def->m_methods) {
        if (PyErr_Occurred()) discard_ordinary_error();
        return false;
    }
    for (NumberBuiltin& b : number_builtins)
        for (const PyMethodDef* m = def->m_methods; m->ml_name; ++m)
            if (std::strcmp(m->ml_name, b.name) == 0) b.def.store(m, std::memory_order_relaxed);
    number_builtins_known.store(true, std::memory_order_release);
    return true;
}

// The number-protocol function behind one of the operator module's binary builtins
// (operator.add is PyNumber_Add behind a call layer), or nullptr for any other callable.
// A builtin is recognised by the very method definition it was made from, so a function of
// the same name from elsewhere is called as what it is. False with an exception set when
// one must propagate.
bool number_binop(PyObject* f, binaryfunc& out) noexcept {
    out = nullptr;
    if (Py_TYPE(f) != &PyCFunction_Type) return true;
    if (!number_builtins_known.load(std::memory_order_acquire) && !learn_number_builtins())
        return !PyErr_Occurred();
    const PyMethodDef* ml = ((PyCFunctionObject*)f)->m_ml;
    for (const NumberBuiltin& b : number_builtins)
        if (b.def.load(std::memory_order_relaxed) == ml) out = b.fn;
    return true;
}

#if TV_HAVE_LV_TAG
// The value of an exact int of at most two digits (below 2**60 in size): the integer layout
// the inline hash reads, proved by its probe.
inline bool two_digit_value(PyObject* o, int64_t& v) noexcept {
    uintptr_t tag = int_tag(o);
    if (tag >= (3u << 3)) return false;
    const digit* d = ((PyLongObject*)o)->long_value.ob_digit;
    int64_t mag = tag >> 3 == 2 ? (int64_t)d[0] | (int64_t)d[1] << PyLong_SHIFT : (int64_t)d[0];
    v = mag * (1 - (int64_t)(tag & 3));
    return true;
}
#endif

// Whether add_exact_ints can ever apply here.
bool exact_int_add_enabled() noexcept {
#if TV_HAVE_LV_TAG && PYLONG_BITS_IN_DIGIT == 30
    return int_fast_hash_enabled();
#else
    return false;
#endif
}

// a + b for two exact ints of at most two digits each, without the number protocol's
// dispatch and the digit-array addition (only where exact_int_add_enabled()). False when
// they do not qualify (nothing done); true with the sum in `out`, or with out null and
// MemoryError set.
bool add_exact_ints(PyObject* a, PyObject* b, PyObject*& out) noexcept {
#if TV_HAVE_LV_TAG && PYLONG_BITS_IN_DIGIT == 30
    if (!PyLong_CheckExact(a) || !PyLong_CheckExact(b)) return false;
    int64_t va, vb;
    if (!two_digit_value(a, va) || !two_digit_value(b, vb)) return false;
    out = PyLong_FromLongLong(va + vb);
    return true;
#else
    (void)a, (void)b, (void)out;
    return false;
#endif
}

// Running results of binop, optionally led by an initial value. A failing binop keeps the
// accumulator, so a retried step folds the next element into the same running value.
struct AccumulateStep {
    AccumulateStep(Source&& src, Ref binop, Ref initial, binaryfunc number) noexcept
        : src_(std::move(src)), binop_(std::move(binop)), initial_(std::move(initial)),
          number_(number), int_add_(number == PyNumber_Add && exact_int_add_enabled()) {}

    PyObject* next() {
        if (initial_ && !emitted_) {
            emitted_ = true;
            acc_ = initial_.dup();
            return Py_NewRef(initial_.get());
        }
        Ref x = steal(src_.next());
        if (!x) return nullptr;
        if (!acc_) {
            acc_ = x.dup();
            return x.release();
        }
        // The accumulator is only replaced by this step, which cannot be re-entered, so it
        // stays alive through the call without a reference of its own.
        PyObject* r;
        if (!int_add_ || !add_exact_ints(acc_.get(), x.get(), r))
            r = number_ ? number_(acc_.get(), x.get())
                        : direct_call(binop_.get(), acc_.get(), x.get());
        if (!r) return ffi_err();
        acc_.reset(Py_NewRef(r));
        return r;
    }
    int traverse(visitproc visit, void* arg) {
        return visit_refs(visit, arg, src_, binop_, initial_, acc_);
    }

private:
    Source src_;
    Ref binop_;
    Ref initial_;
    Ref acc_;
    binaryfunc number_;
    bool int_add_;
    bool emitted_ = false;
};

// The elements for which the predicate is false.
struct RemoveStep {
    RemoveStep(Source&& src, Ref pred) noexcept : src_(std::move(src)), pred_(std::move(pred)) {}

    PyObject* next() {
        PyObject* pred = pred_.get();
        for (;;) {
            Ref x = steal(src_.next());
            if (!x) return nullptr;
            Ref r = steal(direct_call(pred, x.get()));
            if (!r) return nullptr;
            PyObject* t = r.get();
            int truth = t == Py_True ? 1 : t == Py_False ? 0 : PyObject_IsTrue(t);
            if (truth == 0) return x.release();
            if (truth < 0) return nullptr;
        }
    }
    int traverse(visitproc visit, void* arg) { return visit_refs(visit, arg, src_, pred_); }

private:
    Source src_;
    Ref pred_;
};

}  // namespace

PyObject* accumulate_impl(PyObject* binop, PyObject* seq, PyObject* initial) {
    binaryfunc number;
    if (!number_binop(binop, number)) return nullptr;
    return lazy_over<AccumulateStep>(seq, borrow(binop), borrow(initial), number);
}

}  // namespace tv::seq

using namespace tv;
using namespace tv::seq;

TV_FUNCTION(concat, "concat(seqs)") { return concat_impl(a[0]); }

TV_FUNCTION(concatv, "concatv(*seqs)") {
    Ref seqs = a.rest_tuple();
    return seqs ? concat_impl(seqs.get()) : nullptr;
}

TV_FUNCTION(interleave, "interleave(seqs)") {
    Source outer;
    if (!outer.open(a[0])) return nullptr;
    std::vector<Source> its;
    while (Ref inner = steal(outer.next())) {
        its.emplace_back();
        if (!its.back().open(inner.get())) return nullptr;
    }
    if (PyErr_Occurred()) return nullptr;
    return make_native_iter<InterleaveStep>(std::move(its));
}

TV_FUNCTION(mapcat, "mapcat(func, seqs)") { return mapcat_impl(a[0], a[1]); }

TV_FUNCTION(remove, "remove(predicate, seq)") {
    return lazy_over<RemoveStep>(a[1], borrow(a[0]));
}

TV_FUNCTION(accumulate, "accumulate(binop, seq, *rest)", tail_at_most(1)) {
    return accumulate_impl(a[0], a[1], a.nrest ? a.rest[0] : nullptr);
}

TV_FUNCTION(iterate, "iterate(func, x)") {
    return make_native_iter<IterateStep>(borrow(a[0]), borrow(a[1]));
}
