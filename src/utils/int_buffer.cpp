#include "utils/int_buffer.hpp"

#include <cstring>

namespace tv {

namespace {

struct ElemType {
    bool is_signed;
    unsigned size;
};

// The integer type a struct-style format character stands for; `standard` selects the
// fixed sizes of the "=<>!" byte-order marks instead of the platform's native ones.
std::optional<ElemType> type_char(char c, bool standard) {
    switch (c) {
        case 'b': return ElemType{true, 1};
        case 'B':
        case 'c': return ElemType{false, 1};
        case 'h': return ElemType{true, 2};
        case 'H': return ElemType{false, 2};
        case 'i': return ElemType{true, 4};
        case 'I': return ElemType{false, 4};
        case 'l': return ElemType{true, standard ? 4u : 8u};
        case 'L': return ElemType{false, standard ? 4u : 8u};
        case 'q': return ElemType{true, 8};
        case 'Q': return ElemType{false, 8};
        case 'n':
            if (standard) break;
            return ElemType{true, 8};
        case 'N':
            if (standard) break;
            return ElemType{false, 8};
        default: break;  // '?', floating point and everything else are not integers
    }
    return std::nullopt;
}

// The element type of a whole format string, provided it is stored in this machine's own
// (little-endian) byte order; a missing format means unsigned bytes.
std::optional<ElemType> format_type(const char* fmt) {
    if (!fmt) return ElemType{false, 1};
    size_t n = std::strlen(fmt);
    if (n == 1) return type_char(fmt[0], false);
    if (n != 2) return std::nullopt;
    switch (fmt[0]) {
        case '@': return type_char(fmt[1], false);
        case '=':
        case '<': return type_char(fmt[1], true);
        default: return std::nullopt;  // '>' and '!' are big-endian; anything else is foreign
    }
}

struct Variant {
    IntKind kind;
    bool is_signed;
    unsigned size;
};
constexpr Variant kVariants[] = {
    {IntKind::I64, true, 8}, {IntKind::U8, false, 1}, {IntKind::I32, true, 4},
    {IntKind::U64, false, 8}, {IntKind::U32, false, 4}, {IntKind::I16, true, 2},
    {IntKind::U16, false, 2}, {IntKind::I8, true, 1},
};

}  // namespace

// One buffer request stands for the eight per-variant requests: every variant would see
// the same view, and at most one variant can be compatible with a given format.
std::optional<IntBuf> int_buffer(PyObject* obj) noexcept {
    if (PyObject_CheckBuffer(obj) != 1) return std::nullopt;
    auto* vp = (Py_buffer*)PyMem_Malloc(sizeof(Py_buffer));
    if (!vp) return std::nullopt;
    if (PyObject_GetBuffer(obj, vp, PyBUF_FULL_RO) < 0) {
        PyMem_Free(vp);
        discard_ordinary_error();  // what must propagate stays pending for the caller
        return std::nullopt;
    }
    Py_buffer& view = *vp;
    auto kind = [&]() -> std::optional<IntKind> {
        if (!view.shape || !view.strides) return std::nullopt;
        std::optional<ElemType> et = format_type(view.format);
        if (!et) return std::nullopt;
        for (const Variant& v : kVariants) {
            if ((size_t)view.itemsize != v.size || et->size != v.size ||
                et->is_signed != v.is_signed)
                continue;
            if ((uintptr_t)view.buf % v.size != 0) continue;
            if (view.ndim != 1 || (view.format && std::strchr(view.format, 'c')))
                return std::nullopt;
            return v.kind;
        }
        return std::nullopt;
    }();
    IntBuf buf(vp, kind ? *kind : IntKind::I64);
    if (kind) return buf;
    return std::nullopt;
}

}  // namespace tv
