// Key resolution shared by groupby, countby, reduceby, topk and join: a callable key is
// called, a list key picks several fields into a tuple, anything else is one item lookup.
// The form is decided once per call; resolving a key is then a switch.
#pragma once
#include "utils/call.hpp"
#include "utils/threading.hpp"

namespace tv::seq {

class KeyFn {
public:
    // `key` is borrowed and must outlive the KeyFn (the callers hold their arguments).
    explicit KeyFn(PyObject* key) noexcept : key_(key) {
        if (PyCallable_Check(key)) {
            kind_ = Kind::Call;
        } else if (PyList_Check(key)) {
            kind_ = Kind::Fields;
        } else if (PyLong_CheckExact(key)) {
            // An index that fits a machine word gets the direct read of exact tuples and
            // lists; anything larger is left to the item lookup (and its IndexError).
            int overflow = 0;
            long long i = PyLong_AsLongLongAndOverflow(key, &overflow);
            if (!overflow) {
                kind_ = Kind::Index;
                index_ = (Py_ssize_t)i;
            }
        }
    }

    bool callable() const { return kind_ == Kind::Call; }

    // The key value of `item`: a new reference, or nullptr with an exception set.
    PyObject* operator()(PyObject* item) const noexcept {
        switch (kind_) {
            case Kind::Call: return direct_call(key_, item);
            case Kind::Index: {
                PyTypeObject* tp = Py_TYPE(item);
                if (tp == &PyTuple_Type) {
                    Py_ssize_t n = PyTuple_GET_SIZE(item), i = index_ < 0 ? index_ + n : index_;
                    if (i >= 0 && i < n) return Py_NewRef(PyTuple_GET_ITEM(item, i));
                } else if (tp == &PyList_Type) {
                    Py_ssize_t n = PyList_GET_SIZE(item), i = index_ < 0 ? index_ + n : index_;
                    if (i >= 0 && i < n)
                        if (PyObject* x = list_item(item, i)) return x;
                }
                break;  // out of range or another type: the item lookup raises or answers
            }
            case Kind::Fields: return fields(item);
            case Kind::Lookup: break;
        }
        PyObject* r = PyObject_GetItem(item, key_);
        return r ? r : ffi_err();
    }

    // Asks for the key field of a record the walk reaches soon: an index key is a second
    // object behind each record, and the walk otherwise waits for it at the hash. Inlined
    // early, like prefetch_ahead, or the optimiser drops it as a pure call.
    [[gnu::always_inline]] void prefetch(PyObject* item) const noexcept {
        if (kind_ != Kind::Index || !item || Py_TYPE(item) != &PyTuple_Type) return;
        Py_ssize_t n = PyTuple_GET_SIZE(item), i = index_ < 0 ? index_ + n : index_;
        if (i >= 0 && i < n) __builtin_prefetch(PyTuple_GET_ITEM(item, i));
    }

    // The key value of `item`, borrowed where that is safe, else owned by `own`: an index
    // into an exact tuple (immutable, and kept alive by the caller's hold on `item`) is
    // returned without a reference of its own. nullptr with an exception set on failure.
    PyObject* resolve(PyObject* item, Ref& own) const noexcept {
        if (kind_ == Kind::Index && Py_TYPE(item) == &PyTuple_Type) {
            Py_ssize_t n = PyTuple_GET_SIZE(item), i = index_ < 0 ? index_ + n : index_;
            if (i >= 0 && i < n) return PyTuple_GET_ITEM(item, i);
        }
        own = steal((*this)(item));
        return own.get();
    }

private:
    enum class Kind : uint8_t { Call, Fields, Index, Lookup };

    // A tuple of item[k] for each k of the list key. The list is read afresh each time, up
    // to the smaller of its length at the start and its current length (a lookup may run
    // code that shrinks it).
    PyObject* fields(PyObject* item) const noexcept {
        Py_ssize_t n = PyList_GET_SIZE(key_);
        Ref out = steal(PyTuple_New(n));
        if (!out) return ffi_err();
        Py_ssize_t got = 0;
        for (; got < n && got < PyList_GET_SIZE(key_); ++got) {
            Ref k = steal(list_item(key_, got));
            if (!k) break;  // shrunk by another thread
            PyObject* v = PyObject_GetItem(item, k.get());
            if (!v) return ffi_err();
            PyTuple_SET_ITEM(out.get(), got, v);
        }
        if (got < n) {
            // The list shrank during resolution: the tuple has as many values as were read.
            Ref shorter = steal(PyTuple_GetSlice(out.get(), 0, got));
            return shorter ? shorter.release() : ffi_err();
        }
        return out.release();
    }

    PyObject* key_;
    Kind kind_ = Kind::Lookup;
    Py_ssize_t index_ = 0;
};

}  // namespace tv::seq
