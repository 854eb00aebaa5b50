// Error conventions: a failing entry point returns NULL (or -1) with a Python exception set.
#pragma once
#include "utils/ref.hpp"

#include <exception>
#include <new>
#include <type_traits>

namespace tv {

// Called where a C-API call reported failure: keeps the pending exception, or sets the
// SystemError for a call that failed without one. Always returns nullptr for chaining.
PyObject* ffi_err() noexcept;

// Creates the process-wide class for internal errors (derived from BaseException, never
// exported). Module initialisation calls it, with no exception pending, before anything
// can fail: created lazily it would be asked for while an error is already set. 0 or -1.
int init_panic_type() noexcept;
// The class (borrowed); nullptr only before the module was first initialised.
PyObject* panic_type() noexcept;
// Raises PanicException with `msg`; returns nullptr for chaining.
PyObject* panic(const char* msg) noexcept;

// The one rule for code that discards an exception (a skipped element, a length hint, a
// buffer probe, a signature that cannot be read): only ordinary failures, those derived
// from Exception, may be dropped. KeyboardInterrupt, SystemExit, GeneratorExit and other
// BaseException-only exceptions stay pending, and so does a PanicException, which is
// reported and continued as an internal error of ours.
//
// Clears the pending exception when it is an ordinary failure. Returns true when no
// exception is left pending, false when the caller must propagate it.
bool discard_ordinary_error() noexcept;
// Clears the pending exception when it is a lookup error (KeyError, IndexError, TypeError
// or a subclass) and returns true; otherwise leaves it pending (a PanicException continued
// as ours) and returns false.
bool discard_lookup_error() noexcept;
// Clears the pending exception when it matches `type` (or `other`) and returns true; otherwise leaves it
// pending (a PanicException continued as ours) and returns false.
bool discard_matching(PyObject* type, PyObject* other = nullptr) noexcept;
// Takes the pending exception when it matches `type` (a class or a tuple of them, nested
// tuples included). Otherwise the exception stays pending and the result is empty; a
// PanicException never matches. A `type` nested too deeply to walk raises RecursionError
// (with the original exception as its context) instead of exhausting the C stack.
Ref take_matching(PyObject* type) noexcept;

// Raises TypeError "'TYPE' object is not an instance of 'EXPECTED'" for `o` (the form for
// None is "'None' is not an instance of 'EXPECTED'"); returns nullptr for chaining.
PyObject* not_an_instance(PyObject* o, const char* expected) noexcept;

// Raises StopIteration with no arguments.
PyObject* stop_iteration() noexcept;

// The one boundary between C++ and the interpreter: runs a body that may throw (allocation
// in std containers) and turns anything thrown into a Python exception, so no C++
// exception ever reaches the interpreter. Running out of memory is MemoryError; any other
// failure is PanicException with its own text, or `msg` when it carries none.
template <class R, class F>
inline R guard(R fail, F&& f, const char* msg = "unexpected native exception") noexcept {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        panic(e.what());
    } catch (...) {
        panic(msg);
    }
    return fail;
}

// The failure value of a slot function returning R: NULL for objects, -1 for integers.
template <class R>
constexpr R slot_failure() noexcept {
    if constexpr (std::is_pointer_v<R>) return nullptr;
    else return R(-1);
}

// A slot or method function that the interpreter calls directly (vectorcall, tp_new,
// tp_call, tp_repr, __reduce__ ...) wrapped so that nothing thrown inside it escapes:
// use TV_GUARDED(fn) wherever the bare function would be stored.
template <auto F>
struct Guarded;
template <class R, class... A, R (*F)(A...)>
struct Guarded<F> {
    static R call(A... args) noexcept {
        return guard<R>(slot_failure<R>(), [&] { return F(args...); });
    }
};

}  // namespace tv

#define TV_GUARDED(fn) (&::tv::Guarded<fn>::call)
