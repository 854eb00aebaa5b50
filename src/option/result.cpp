// Result values: Ok, Err and the Result namespace.
#include "option/box.hpp"
#include "option/option.hpp"

#include "utils/binder.hpp"
#include "utils/registry.hpp"

namespace tv::opt {

namespace {

TypeCell g_ok;
TypeCell g_err;

const Sig ok_sig{"Ok(value)", nullptr, {}};
const Sig err_sig{"Err(error)", nullptr, {}};

PyObject* ok_richcompare(PyObject* self, PyObject* other, int op) {
    return box_richcompare(self, other, op, g_ok.get());
}
PyObject* err_richcompare(PyObject* self, PyObject* other, int op) {
    return box_richcompare(self, other, op, g_err.get());
}

PyObject* ok_repr(PyObject* self) { return box_repr(self, "Ok"); }
PyObject* err_repr(PyObject* self) { return box_repr(self, "Err"); }

// A fresh copy of an Err: methods that pass an error along never hand out their receiver.
PyObject* same_err(PyObject* self) { return err_obj(borrow(payload(self))); }

}  // namespace

PyObject* ok_obj(Ref value) noexcept { return box_new(ok_type(), std::move(value)); }
PyObject* err_obj(Ref error) noexcept { return box_new(err_type(), std::move(error)); }

}  // namespace tv::opt

using namespace tv;
using namespace tv::opt;

// ---- Ok ------------------------------------------------------------------------------------

TV_METHOD(Ok, map, "map($self, f)") {
    return ok_obj(steal(PyObject_CallOneArg(a[0], payload(a.self))));
}

TV_METHOD(Ok, map_err, "map_err($self, f)") { return ok_obj(borrow(payload(a.self))); }

TV_METHOD(Ok, and_then, "and_then($self, f)") {
    Ref r = steal(PyObject_CallOneArg(a[0], payload(a.self)));
    if (!r) return nullptr;
    if (instance_of(r.get(), ok_type()) || instance_of(r.get(), err_type()))
        return r.release();
    PyErr_SetString(PyExc_TypeError, "and_then callback must return a Result");
    return nullptr;
}

TV_METHOD(Ok, unwrap, "unwrap($self)") { return Py_NewRef(payload(a.self)); }

TV_METHOD(Ok, unwrap_or, "unwrap_or($self, default)") { return Py_NewRef(payload(a.self)); }

TV_METHOD(Ok, ok, "ok($self)") { return some(borrow(payload(a.self))); }

TV_METHOD(Ok, err, "err($self)") { return nothing(); }

TV_METHOD(Ok, is_ok, "is_ok($self)") { Py_RETURN_TRUE; }

TV_METHOD(Ok, is_err, "is_err($self)") { Py_RETURN_FALSE; }

// ---- Err -----------------------------------------------------------------------------------

TV_METHOD(Err, map, "map($self, f)") { return same_err(a.self); }

TV_METHOD(Err, map_err, "map_err($self, f)") {
    return err_obj(steal(PyObject_CallOneArg(a[0], payload(a.self))));
}

TV_METHOD(Err, and_then, "and_then($self, f)") { return same_err(a.self); }

TV_METHOD(Err, unwrap, "unwrap($self)") {
    Ref msg = steal(PyUnicode_FromFormat("called `unwrap` on Err(%R)", payload(a.self)));
    if (!msg) return nullptr;
    PyErr_SetObject(PyExc_ValueError, msg.get());
    return nullptr;
}

TV_METHOD(Err, unwrap_or, "unwrap_or($self, default)") { return Py_NewRef(a[0]); }

TV_METHOD(Err, ok, "ok($self)") { return nothing(); }

TV_METHOD(Err, err, "err($self)") { return some(borrow(payload(a.self))); }

TV_METHOD(Err, is_ok, "is_ok($self)") { Py_RETURN_FALSE; }

TV_METHOD(Err, is_err, "is_err($self)") { Py_RETURN_TRUE; }

// ---- Result --------------------------------------------------------------------------------

TV_METHOD(Result, of, "of(f)") {
    PyObject* r = PyObject_CallNoArgs(a[0]);
    if (r) return ok_obj(steal(r));
    // Only ordinary failures become values; KeyboardInterrupt, SystemExit and the like (and
    // internal errors passing through) keep unwinding.
    Ref err = take_matching(PyExc_Exception);
    if (!err) return ffi_err();
    return err_obj(std::move(err));
}

// ---- Types ---------------------------------------------------------------------------------

namespace tv::opt {

PyTypeObject* ok_type() noexcept {
    static BoxKind kind = {
        "Ok", "tarvel._tarvel.Ok", "Ok(value)\n--\n\n", "value", true,
        ok_richcompare, ok_repr, payload_tp_new<ok_sig>, payload_vectorcall<ok_sig>, {},
    };
    return box_type(g_ok, kind);
}

PyTypeObject* err_type() noexcept {
    static BoxKind kind = {
        "Err", "tarvel._tarvel.Err", "Err(error)\n--\n\n", "error", false,
        err_richcompare, err_repr, payload_tp_new<err_sig>, payload_vectorcall<err_sig>, {},
    };
    return box_type(g_err, kind);
}

namespace {

PyObject* make_result(PyObject*) {
    static TypeCell type;
    return type_maker_of(namespace_type(type, "tarvel._tarvel.Result", "Result"));
}

}  // namespace

}  // namespace tv::opt

TV_REGISTER("Ok", tv::type_maker<tv::opt::ok_type>);
TV_REGISTER("Err", tv::type_maker<tv::opt::err_type>);
TV_REGISTER("Result", tv::opt::make_result);
