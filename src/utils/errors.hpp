// Error conventions: a failing entry point returns NULL (or -1) with a Python exception set.
#pragma once
#include "utils/ref.hpp"

#include <new>

namespace tv {

// Called where a C-API call reported failure: keeps the pending exception, or sets the
// SystemError for a call that failed without one. Always returns nullptr for chaining.
PyObject* ffi_err() noexcept;

// The process-wide class for internal errors (derived from BaseException, never exported).
PyObject* panic_type() noexcept;
// Raises PanicException with `msg`; returns nullptr for chaining.
PyObject* panic(const char* msg) noexcept;

// True when the pending exception is a lookup error (KeyError, IndexError, TypeError or a
// subclass). A pending PanicException is never a lookup error: it is reported and turned
// into one of ours instead, so no default ever swallows it.
bool is_lookup_error() noexcept;
// True when the pending exception matches `type` (a PanicException never does; see above).
bool pending_matches(PyObject* type) noexcept;

// Raises TypeError "'TYPE' object is not an instance of 'EXPECTED'" for `o` (the form for
// None is "'None' is not an instance of 'EXPECTED'"); returns nullptr for chaining.
PyObject* not_an_instance(PyObject* o, const char* expected) noexcept;

// Raises StopIteration with no arguments.
PyObject* stop_iteration() noexcept;

// Runs a body that may throw (allocation in std containers) and converts anything thrown
// into a Python exception, so no C++ exception ever reaches the interpreter.
template <class R, class F>
inline R guard(R fail, F&& f) noexcept {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        panic("unexpected native exception");
    }
    return fail;
}

}  // namespace tv
