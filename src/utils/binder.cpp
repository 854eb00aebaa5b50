#include "utils/binder.hpp"

#include "utils/registry.hpp"

#include <cstring>
#include <string_view>

namespace tv {

Ref Args::rest_tuple() const {
    if (rest_owner && nrest == PyTuple_GET_SIZE(rest_owner)) return borrow(rest_owner);
    PyObject* t = PyTuple_New(nrest);
    if (!t) return Ref();
    for (Py_ssize_t i = 0; i < nrest; ++i) PyTuple_SET_ITEM(t, i, Py_NewRef(rest[i]));
    return steal(t);
}

namespace {

[[noreturn]] void bad_declaration(const char* text) {
    // A malformed declaration is a programming error in this tree: fail loudly at load.
    Py_FatalError(text);
}

PyObject* default_of(std::string_view text, const char* decl) {
    if (text == "None") return Py_None;
    if (text == "False") return Py_False;
    if (text == "True") return Py_True;
    bad_declaration(decl);
}

}  // namespace

Sig::Sig(const char* text, const char* owner, std::initializer_list<ConvSpec> convs) {
    std::string_view s(text);
    size_t open = s.find('('), close = s.rfind(')');
    if (open == s.npos || close == s.npos || close < open) bad_declaration(text);
    name_.assign(s.substr(0, open));
    display_ = owner ? std::string(owner) + "." + name_ + "()" : name_ + "()";
    doc_ = std::string(s) + "\n--\n\n";
    std::string_view list = s.substr(open + 1, close - open - 1);
    bool after_star = false;
    int nkwonly = 0;
    while (!list.empty()) {
        size_t comma = list.find(", ");
        std::string_view item = list.substr(0, comma);
        list = comma == list.npos ? std::string_view() : list.substr(comma + 2);
        if (item == "$self") {
            bound_ = true;
            continue;
        }
        if (item.substr(0, 2) == "**") {
            varkw_ = true;
            continue;
        }
        if (item.substr(0, 1) == "*") {
            varargs_ = after_star = true;
            continue;
        }
        if (nparams_ == kMaxParams) bad_declaration(text);
        Param& p = params_[nparams_++];
        size_t eq = item.find('=');
        p.name.assign(item.substr(0, eq));
        if (eq != item.npos) p.deflt = default_of(item.substr(eq + 1), text);
        if (after_star) {
            if (!p.deflt) bad_declaration(text);  // keyword-only parameters all have defaults
            ++nkwonly;
        } else {
            ++npos_;
            if (!p.deflt) {
                if (nreq_ != npos_ - 1) bad_declaration(text);  // required ones come first
                ++nreq_;
            }
        }
    }
    (void)nkwonly;
    for (const ConvSpec& c : convs) {
        if (c.conv == Conv::Tail) {
            if (!varargs_ || c.most < 0) bad_declaration(text);
            rest_max_ = c.most;
            continue;
        }
        int i = 0;
        while (i < nparams_ && params_[i].name != c.name) ++i;
        if (i == nparams_) bad_declaration(text);
        params_[i].conv = c.conv;
        simple_ = false;
    }
    if (simple_) {
        hot_max_ = varargs_ ? PY_SSIZE_T_MAX : npos_;
    } else {
        // Calls that leave every converted parameter at a boolean default need no
        // conversion: they bind on the hot path too.
        int first = 0;
        while (params_[first].conv == Conv::Any) ++first;
        bool bool_defaults = true;
        for (int i = first; i < nparams_; ++i)
            if (params_[i].conv != Conv::Any)
                bool_defaults &= params_[i].deflt == Py_True || params_[i].deflt == Py_False;
        if (bool_defaults) hot_max_ = first < npos_ ? first : npos_;
    }
    if (nparams_ == npos_) {
        direct_min_ = npos_;
        direct_max_ = varargs_ ? PY_SSIZE_T_MAX : npos_;
    }
    // Calls past the tail's bound leave the hot paths and fail in bind_slow.
    if (rest_max_ != PY_SSIZE_T_MAX) {
        Py_ssize_t most = npos_ + rest_max_;
        if (direct_max_ > most) direct_max_ = most;
        if (hot_max_ > most) hot_max_ = most;
    }
}

bool Sig::keyword(Args& a, bool* filled, PyObject* key, PyObject* value) const {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &len) : nullptr;
    if (!utf8 && !discard_ordinary_error()) return false;  // unreadable names match nothing
    if (utf8) {
        for (int i = 0; i < nparams_; ++i) {
            const std::string& n = params_[i].name;
            if ((size_t)len == n.size() && std::memcmp(utf8, n.data(), len) == 0) {
                if (filled[i]) {
                    PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%S'",
                                 display_.c_str(), key);
                    return false;
                }
                filled[i] = true;
                a.buf[i] = value;
                return true;
            }
        }
    }
    if (!varkw_) {
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'",
                     display_.c_str(), key);
        return false;
    }
    if (!a.kwargs) {
        a.kwargs = steal(PyDict_New());
        if (!a.kwargs) return false;
    }
    return PyDict_SetItem(a.kwargs.get(), key, value) == 0;
}

namespace {

bool too_many(const char* display, int nreq, int npos, Py_ssize_t n) {
    const char* verb = n == 1 ? "was" : "were";
    if (nreq == npos)
        PyErr_Format(PyExc_TypeError, "%s takes %d positional arguments but %zd %s given",
                     display, npos, n, verb);
    else
        PyErr_Format(PyExc_TypeError,
                     "%s takes from %d to %d positional arguments but %zd %s given", display,
                     nreq, npos, n, verb);
    return false;
}


bool to_bool(PyObject* o, bool* out) {
    if (PyBool_Check(o)) {
        *out = o == Py_True;
        return true;
    }
    if (o == Py_None) {
        not_an_instance(o, "bool");
        return false;
    }
    PyTypeObject* tp = Py_TYPE(o);
    Ref mod = steal(PyType_GetModuleName(tp));
    Ref nm = steal(PyType_GetName(tp));
    if ((!mod || !nm) && !discard_ordinary_error()) return false;
    if (mod && nm && PyUnicode_Check(mod.get()) &&
        PyUnicode_CompareWithASCIIString(mod.get(), "numpy") == 0 &&
        (PyUnicode_CompareWithASCIIString(nm.get(), "bool_") == 0 ||
         PyUnicode_CompareWithASCIIString(nm.get(), "bool") == 0) &&
        tp->tp_as_number && tp->tp_as_number->nb_bool) {
        int r = tp->tp_as_number->nb_bool(o);
        if (r < 0) return false;
        *out = r != 0;
        return true;
    }
    not_an_instance(o, "bool");
    return false;
}

bool to_u64(PyObject* o, uint64_t* out) {
    Ref idx;
    if (!PyLong_Check(o)) {
        idx = steal(PyNumber_Index(o));
        if (!idx) return false;
        o = idx.get();
    }
    unsigned long long v = PyLong_AsUnsignedLongLong(o);
    if (v == (unsigned long long)-1 && PyErr_Occurred()) return false;
    *out = v;
    return true;
}

bool to_i64(PyObject* o, int64_t* out) {
    long v = PyLong_AsLong(o);
    if (v == -1 && PyErr_Occurred()) return false;
    *out = v;
    return true;
}

}  // namespace

bool Sig::convert(Args& a) const {
    for (int i = 0; i < nparams_; ++i) {
        bool ok = true;
        switch (params_[i].conv) {
            case Conv::Any:
            case Conv::Tail: break;
            case Conv::Bool: ok = to_bool(a.v[i], &a.c[i].b); break;
            case Conv::U64: ok = to_u64(a.v[i], &a.c[i].u); break;
            case Conv::I64: ok = to_i64(a.v[i], &a.c[i].i); break;
        }
        if (!ok) return note_param(params_[i].name.c_str()), false;
    }
    return true;
}

bool Sig::bind_slow(Args& a, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject* kwdict) const {
    a.self = self;
    a.rest_owner = nullptr;
    if (nargs > npos_ && !varargs_) return too_many(display_.c_str(), nreq_, npos_, nargs);
    bool filled[kMaxParams] = {};
    Py_ssize_t take = nargs < npos_ ? nargs : npos_;
    a.v = a.buf;
    for (Py_ssize_t i = 0; i < take; ++i) {
        a.buf[i] = args[i];
        filled[i] = true;
    }
    a.rest = args + take;
    a.nrest = nargs - take;
    if (kwnames) {
        Py_ssize_t nk = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nk; ++k)
            if (!keyword(a, filled, PyTuple_GET_ITEM(kwnames, k), args[nargs + k])) return false;
    } else if (kwdict) {
#if TV_FREE_THREADED
        // The dict can be the caller's own (f(**d) hands an exact dict over as it is), which
        // other threads may change while the call runs: the values are bound from a copy,
        // which holds them for the call.
        a.kw_copy = steal(PyDict_Copy(kwdict));
        if (!a.kw_copy) return false;
        kwdict = a.kw_copy.get();
#endif
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        bool ok = true;
        while (ok && PyDict_Next(kwdict, &pos, &key, &value)) ok = keyword(a, filled, key, value);
        if (!ok) return false;
    }
    int missing = 0;
    for (int i = 0; i < nreq_; ++i) missing += !filled[i];
    if (missing) return missing_error(filled, missing);
    for (int i = 0; i < nparams_; ++i)
        if (!filled[i]) a.buf[i] = params_[i].deflt;
    // The tail's bound is checked last: a bad keyword or conversion is reported first.
    if (!simple_ && !convert(a)) return false;
    return a.nrest <= rest_max_ || tail_error();
}

bool Sig::tail_error() const {
    PyErr_Format(PyExc_TypeError, "%s takes at most %zd arguments", name_.c_str(),
                 (Py_ssize_t)npos_ + rest_max_);
    return false;
}

bool Sig::missing_error(const bool* filled, int missing) const noexcept {
    // Binding runs before the callable's own guard: the message is built without letting
    // a failed allocation escape.
    return guard<bool>(false, [&] {
        std::string list;
        int seen = 0;
        for (int i = 0; i < nreq_; ++i) {
            if (filled[i]) continue;
            if (seen) list += missing == 2 ? " and " : (seen == missing - 1 ? ", and " : ", ");
            list += "'" + params_[i].name + "'";
            ++seen;
        }
        PyErr_Format(PyExc_TypeError, "%s missing %d required positional argument%s: %s",
                     display_.c_str(), missing, missing == 1 ? "" : "s", list.c_str());
        return false;
    });
}

bool Sig::bind_tuple(Args& a, PyObject* self, PyObject* args, PyObject* kwargs) const {
    Py_ssize_t n = args ? PyTuple_GET_SIZE(args) : 0;
    PyObject* const* items = args ? &PyTuple_GET_ITEM(args, 0) : nullptr;
    if (kwargs && PyDict_GET_SIZE(kwargs) == 0) kwargs = nullptr;
    if (!bind_slow(a, self, items, n, nullptr, kwargs)) return false;
    if (a.nrest && a.nrest == n) a.rest_owner = args;
    return true;
}

PyObject* note_param(const char* pname) noexcept {
    PyObject* exc = PyErr_GetRaisedException();
    if (!exc) return nullptr;
    Ref note = steal(PyUnicode_FromFormat("while processing '%s'", pname));
    Ref r = note ? steal(PyObject_CallMethod(exc, "add_note", "O", note.get())) : Ref();
    if (!r) PyErr_Clear();  // the original error matters more than the note
    PyErr_SetRaisedException(exc);
    return nullptr;
}

FnDecl::FnDecl(const char* text, const char* owner, Body b, PyCFunction fast, PyCFunction tuple,
               std::initializer_list<ConvSpec> convs, bool registered)
    : sig(text, owner, convs), body(b) {
    def.ml_name = sig.name().c_str();
    def.ml_doc = sig.doc();
    if (sig.takes_varkw()) {
        def.ml_meth = tuple;
        def.ml_flags = METH_VARARGS | METH_KEYWORDS;
    } else {
        def.ml_meth = fast;
        def.ml_flags = METH_FASTCALL | METH_KEYWORDS;
    }
    if (owner && !sig.bound()) def.ml_flags |= METH_STATIC;
    if (owner) register_method(owner, &def);
    else if (registered) register_function(this);
}

}  // namespace tv
