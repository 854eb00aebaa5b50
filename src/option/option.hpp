// The optional and result values, as other families build them. Every constructor takes
// over the reference it is given and returns a new object, or nullptr with an exception set
// (an empty Ref means the producer already failed: its exception is passed on).
#pragma once
#include "utils/ref.hpp"

#include <cstdint>

namespace tv::opt {

// A new Some holding `value`.
PyObject* some(Ref value) noexcept;
// A new NothingType instance. Absence is never a shared object, so Nothing values are
// compared with ==, never with `is`.
PyObject* nothing() noexcept;
// A new Ok / Err holding the payload.
PyObject* ok_obj(Ref value) noexcept;
PyObject* err_obj(Ref error) noexcept;

// The type objects (borrowed; created on first need), nullptr with an exception set when the
// type cannot be created.
PyTypeObject* some_type() noexcept;
PyTypeObject* nothing_type() noexcept;
PyTypeObject* ok_type() noexcept;
PyTypeObject* err_type() noexcept;

// Bodies of the option-returning accessors that the fluent wrapper shares.
PyObject* first_opt_impl(PyObject* seq);
PyObject* last_opt_impl(PyObject* seq);
PyObject* nth_opt_impl(uint64_t n, PyObject* seq);

}  // namespace tv::opt
