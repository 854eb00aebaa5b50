#include "utils/native_iter.hpp"

#include "utils/registry.hpp"

namespace tv {

PyObject* busy_error() noexcept {
    PyErr_SetString(PyExc_ValueError, "iterator already executing");
    return nullptr;
}

namespace {

TV_REGISTER("NativeIter", NativeIter::make_type);

struct EmptyStep {
    PyObject* next() { return nullptr; }
    int traverse(visitproc, void*) { return 0; }
};

}  // namespace

PyObject* empty_iter() noexcept { return make_native_iter<EmptyStep>(); }

}  // namespace tv
