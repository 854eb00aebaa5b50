// Argument binding. Every callable is declared once by its text signature (plus the
// conversions of its integer and boolean parameters); that one declaration yields both the
// docstring the interpreter reads __text_signature__ from and the binder's parameter table.
//
//   TV_FUNCTION(tail, "tail(n, seq)", {"n", tv::Conv::U64}) { ... a.u(0) ... }
//   TV_FUNCTION(get, "get(ind, coll, *rest)", tv::tail_at_most(1)) { ... a.nrest <= 1 ... }
//
// The body receives Args: borrowed parameter values in declaration order (keyword-only ones
// after the positional ones), converted integers/booleans beside them, and the variadic tail.
#pragma once
#include "utils/errors.hpp"

#include <cstdint>
#include <initializer_list>
#include <string>

namespace tv {

// Tail: not a conversion but the declared bound of the variadic tail (see tail_at_most).
enum class Conv : uint8_t { Any, Bool, U64, I64, Tail };

struct ConvSpec {
    const char* name;
    Conv conv;
    Py_ssize_t most = 0;  // Conv::Tail only: the most values the tail accepts
};

// Declares that the `*rest` tail takes at most `n` values: a call with more fails in the
// binder with "<name> takes at most <positional parameters + n> arguments".
constexpr ConvSpec tail_at_most(Py_ssize_t n) { return ConvSpec{nullptr, Conv::Tail, n}; }

inline constexpr int kMaxParams = 8;

struct Args {
    PyObject* self;                 // the module, or the instance for methods
    PyObject* const* v;             // bound values (borrowed); defaults filled in. Points
                                    // straight at the caller's arguments when they are
                                    // all given positionally, else at `buf`.
    PyObject* buf[kMaxParams];
    union {
        int64_t i;
        uint64_t u;
        bool b;
    } c[kMaxParams];                // converted values, for parameters that declare one
    PyObject* const* rest;          // the variadic tail (borrowed view)
    Py_ssize_t nrest;
    PyObject* rest_owner;           // the tuple `rest` points into, when there is one
    Ref kwargs;                     // **kwargs (a new dict), when the callable takes it
#if TV_FREE_THREADED
    Ref kw_copy;                    // the keyword dict the values were bound from
#endif

    PyObject* operator[](int i) const { return v[i]; }
    int64_t i64(int k) const { return c[k].i; }
    uint64_t u64(int k) const { return c[k].u; }
    bool flag(int k) const { return c[k].b; }
    // The variadic tail as a tuple (a new reference; shares the caller's tuple when possible).
    Ref rest_tuple() const;
};

struct Param {
    std::string name;
    PyObject* deflt = nullptr;  // nullptr: required. Only None/False/True defaults exist.
    Conv conv = Conv::Any;
};

class Sig {
public:
    // `text` is the text signature: "name(a, b=None, *rest, key=None, **kw)"; `owner`
    // names the class for methods ("Some" gives the display name "Some.map()").
    Sig(const char* text, const char* owner, std::initializer_list<ConvSpec> convs);

    const std::string& name() const { return name_; }
    const char* doc() const { return doc_.c_str(); }
    const char* display() const { return display_.c_str(); }
    bool takes_varkw() const { return varkw_; }
    // The text signature names a receiver ($self): a method of instances, not a static one.
    bool bound() const { return bound_; }

    // Fast-call convention: positional values then keyword values after them, named by
    // `kwnames`. Returns false with an exception set on a binding or conversion error.
    bool bind(Args& a, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
              PyObject* kwnames) const {
        if (!kwnames && nargs >= direct_min_ && nargs <= direct_max_) {
            // Hottest path: every parameter given positionally: the caller's own argument
            // array is used as is (integer parameters converted beside it).
            a.self = self;
            a.rest_owner = nullptr;
            a.v = args;
            a.rest = args + npos_;
            a.nrest = nargs - npos_;
            return simple_ || convert(a);
        }
        if (!kwnames && nargs >= nreq_ && nargs <= hot_max_) {
            // Hot path: only positionals (some defaults left out), nothing to convert: the
            // converted parameters, if any, are all left at their boolean defaults.
            a.self = self;
            a.rest_owner = nullptr;
            Py_ssize_t take = nargs < npos_ ? nargs : npos_;
            for (Py_ssize_t i = 0; i < take; ++i) a.buf[i] = args[i];
            for (int i = (int)take; i < nparams_; ++i) {
                a.buf[i] = params_[i].deflt;
                a.c[i].b = params_[i].deflt == Py_True;
            }
            a.v = a.buf;
            a.rest = args + take;
            a.nrest = nargs - take;
            return true;
        }
        return bind_slow(a, self, args, nargs, kwnames, nullptr);
    }
    // Tuple/dict convention (tp_new, tp_call, METH_VARARGS).
    bool bind_tuple(Args& a, PyObject* self, PyObject* args, PyObject* kwargs) const;

private:
    bool bind_slow(Args& a, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, PyObject* kwdict) const;
    bool keyword(Args& a, bool* filled, PyObject* key, PyObject* value) const;
    bool missing_error(const bool* filled, int missing) const noexcept;
    bool tail_error() const;
    bool convert(Args& a) const;

    std::string name_, display_, doc_;
    Param params_[kMaxParams];
    int npos_ = 0, nreq_ = 0, nparams_ = 0;
    // Positional counts that bind with no copying at all (an empty range when none do).
    Py_ssize_t direct_min_ = PY_SSIZE_T_MAX, direct_max_ = 0;
    // The most positional arguments the hot path binds (-1 when it binds none).
    Py_ssize_t hot_max_ = -1;
    // The declared bound of the variadic tail (PY_SSIZE_T_MAX: unbounded).
    Py_ssize_t rest_max_ = PY_SSIZE_T_MAX;
    bool varargs_ = false, varkw_ = false, simple_ = true, bound_ = false;
};

// Adds the note "while processing '<pname>'" to the pending exception, as every argument
// error names its parameter. Returns nullptr for chaining.
PyObject* note_param(const char* pname) noexcept;

using Body = PyObject* (*)(Args&);

// A module function or method: its declaration, binder and method definition in one.
struct FnDecl {
    FnDecl(const char* text, const char* owner, Body body, PyCFunction fast, PyCFunction tuple,
           std::initializer_list<ConvSpec> convs = {}, bool registered = true);
    Sig sig;
    Body body;
    PyMethodDef def;
};

template <class Tag>
struct Trampoline {
    static PyObject* fast(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
        Args a;
        if (!Tag::decl.sig.bind(a, self, args, nargs, kwnames)) return nullptr;
        return guard<PyObject*>(nullptr, [&] { return Tag::body(a); });
    }
    static PyObject* tuple(PyObject* self, PyObject* args, PyObject* kwargs) {
        Args a;
        if (!Tag::decl.sig.bind_tuple(a, self, args, kwargs)) return nullptr;
        return guard<PyObject*>(nullptr, [&] { return Tag::body(a); });
    }
};

}  // namespace tv

#define TV_DECLARE_EX_(TAG, OWNER, REGISTERED, SIG, ...)                                     \
    namespace {                                                                             \
    struct TAG {                                                                            \
        static PyObject* body(::tv::Args& a);                                               \
        static ::tv::FnDecl decl;                                                           \
    };                                                                                      \
    ::tv::FnDecl TAG::decl{SIG, OWNER, &TAG::body,                                          \
                           (PyCFunction)(void (*)(void))&::tv::Trampoline<TAG>::fast,       \
                           (PyCFunction)(void (*)(void))&::tv::Trampoline<TAG>::tuple,      \
                           {__VA_ARGS__}, REGISTERED};                                      \
    }                                                                                       \
    PyObject* TAG::body([[maybe_unused]] ::tv::Args& a)
#define TV_DECLARE_(TAG, OWNER, SIG, ...) TV_DECLARE_EX_(TAG, OWNER, true, SIG, __VA_ARGS__)

// A module function, registered under its name for the module's registration table.
#define TV_FUNCTION(NAME, SIG, ...) TV_DECLARE_(fn_##NAME, nullptr, SIG, __VA_ARGS__)
// A method of class CLS. The declaration puts it in the class's method table, which the type
// reads with tv::class_methods("CLS", {extra...}). A signature with "$self" first declares
// an instance method, one without it a static method ("of(v)").
#define TV_METHOD(CLS, NAME, SIG, ...) TV_DECLARE_(CLS##_##NAME##_m, #CLS, SIG, __VA_ARGS__)
// A module-level function that is not itself a module attribute (its owner builds the
// function object and stores it elsewhere); use fn_##NAME##_hidden::decl.def.
#define TV_HIDDEN_FUNCTION(NAME, SIG, ...) \
    TV_DECLARE_EX_(fn_##NAME##_hidden, nullptr, false, SIG, __VA_ARGS__)
