#include "utils/native_iter.hpp"

#include "utils/registry.hpp"

namespace tv {

PyObject* busy_error() noexcept {
    PyErr_SetString(PyExc_ValueError, "iterator already executing");
    return nullptr;
}

namespace {

struct NativeIterObject {
    PyObject_HEAD
    Py_ssize_t busy;
    Step* step;  // owned; nullptr once cleared by the garbage collector
};

PyObject* ni_next(PyObject* self) {
    auto* o = (NativeIterObject*)self;
    BusyScope busy(o->busy);
    if (!busy.ok()) return nullptr;
    Step* s = o->step;
    if (!s) return nullptr;
    return run_step([&] { return s->step(); });
}

int ni_clear(PyObject* self) {
    auto* o = (NativeIterObject*)self;
    // Detach first: destroying the step may run __del__ code that reaches this iterator.
    delete std::exchange(o->step, nullptr);
    return 0;
}

int ni_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    auto* o = (NativeIterObject*)self;
    return o->step ? o->step->traverse(visit, arg) : 0;
}

PyTypeObject* native_iter_type() noexcept {
    // Lazy results stack (remove(p, remove(p, ...))): the deallocator's trashcan keeps
    // dropping a deep chain off the C stack.
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, (void*)gc_dealloc<ni_clear>},
        {Py_tp_traverse, (void*)ni_traverse},
        {Py_tp_clear, (void*)ni_clear},
        {Py_tp_iter, (void*)PyObject_SelfIter},
        {Py_tp_iternext, (void*)ni_next},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "tarvel._tarvel.NativeIter", sizeof(NativeIterObject), 0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE |
            Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    static TypeCell type;
    return type_once(type, spec);
}

TV_REGISTER("NativeIter", type_maker<native_iter_type>);

struct EmptyStep final : Step {
    PyObject* step() override { return nullptr; }
};

}  // namespace

PyObject* native_iter_new(Step* step) noexcept {
    PyTypeObject* tp = native_iter_type();
    PyObject* self = tp ? tp->tp_alloc(tp, 0) : nullptr;
    if (!self) {
        delete step;
        return nullptr;
    }
    auto* o = (NativeIterObject*)self;
    o->busy = 0;
    o->step = step;
    return self;
}

PyObject* empty_iter() noexcept { return make_native_iter<EmptyStep>(); }

}  // namespace tv
