// Integer buffers: recognises one-dimensional buffers of 8- to 64-bit integers in the
// machine's own byte order (bytes, array.array, NumPy integer arrays, memoryview casts) so
// that the tools can scan raw values and box only what they return.
#pragma once
#include "utils/errors.hpp"

#include <cstdint>
#include <optional>
#include <utility>

namespace tv {

// The element types, in the order in which a buffer is matched against them.
enum class IntKind : uint8_t { I64, U8, I32, U64, U32, I16, U16, I8 };

// One acquired buffer view and its element type; releases the view when destroyed. The
// view lives on the heap because exporters may point its shape and strides into the view
// itself (bytes does), so it must never move once filled.
class IntBuf {
public:
    IntBuf(Py_buffer* view, IntKind kind) noexcept : view_(view), kind_(kind) {}
    IntBuf(IntBuf&& o) noexcept : view_(std::exchange(o.view_, nullptr)), kind_(o.kind_) {}
    IntBuf& operator=(IntBuf&&) = delete;
    IntBuf(const IntBuf&) = delete;
    ~IntBuf() { release(); }

    IntKind kind() const { return kind_; }
    bool held() const { return view_ != nullptr; }
    // The exporter, for garbage-collector traversal (the view owns a reference to it).
    PyObject* exporter() const { return view_ ? view_->obj : nullptr; }
    void release() noexcept {
        if (Py_buffer* v = std::exchange(view_, nullptr)) {
            PyBuffer_Release(v);
            PyMem_Free(v);
        }
    }
    // The elements as one C-contiguous run, or nullptr when the view is strided, has no
    // memory or was released.
    const void* data() const {
        if (!view_ || !view_->buf || !PyBuffer_IsContiguous(view_, 'C')) return nullptr;
        return view_->buf;
    }
    size_t count() const { return view_ ? (size_t)(view_->len / view_->itemsize) : 0; }

private:
    Py_buffer* view_;
    IntKind kind_;
};

// The integer-buffer view of `obj`, or nothing. An ordinary failure on the way (no buffer
// interface, a refused request, a foreign format or byte order, misalignment, several
// dimensions, a character format) just means "not an integer buffer"; an exception that
// must propagate (an interrupt raised by the exporter) is left pending, so callers that
// get nothing check PyErr_Occurred().
std::optional<IntBuf> int_buffer(PyObject* obj) noexcept;

// Calls f(TypeTag<T>{}) with T the element type of `kind`, so that one template body
// serves all eight types.
template <class T>
struct TypeTag {
    using type = T;
};
template <class F>
decltype(auto) visit_kind(IntKind kind, F&& f) {
    switch (kind) {
        case IntKind::I64: return f(TypeTag<int64_t>{});
        case IntKind::U8: return f(TypeTag<uint8_t>{});
        case IntKind::I32: return f(TypeTag<int32_t>{});
        case IntKind::U64: return f(TypeTag<uint64_t>{});
        case IntKind::U32: return f(TypeTag<uint32_t>{});
        case IntKind::I16: return f(TypeTag<int16_t>{});
        case IntKind::U16: return f(TypeTag<uint16_t>{});
        case IntKind::I8: break;
    }
    return f(TypeTag<int8_t>{});
}

// f(data, count) over the elements of `obj` when it is a contiguous integer buffer (data a
// `const T*` of its element type), or nothing when it is not one and the caller takes its
// generic path. The view is held for the duration of the call. An exception that the probe
// must not discard comes back as a result of nullptr, so no caller goes on with it pending.
template <class F>
std::optional<PyObject*> with_int_elements(PyObject* obj, F&& f) {
    std::optional<IntBuf> buf = int_buffer(obj);
    if (!buf) {
        if (PyErr_Occurred()) return std::optional<PyObject*>(std::in_place, nullptr);
        return std::nullopt;
    }
    const void* data = buf->data();
    if (!data) return std::nullopt;
    return visit_kind(buf->kind(), [&](auto tag) -> PyObject* {
        using T = typename decltype(tag)::type;
        return f((const T*)data, buf->count());
    });
}

// A Python int from a native element (unsigned 64-bit values stay unsigned).
template <class T>
inline PyObject* box_int(T v) noexcept {
    if constexpr (std::is_same_v<T, uint64_t>) return PyLong_FromUnsignedLongLong(v);
    else return PyLong_FromLongLong((long long)v);
}

}  // namespace tv
