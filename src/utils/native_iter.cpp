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

PyTypeObject* native_iter_type = nullptr;

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

void ni_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    // Lazy results stack (remove(p, remove(p, ...))): the trashcan defers nested
    // deallocations so that dropping a deep chain does not exhaust the C stack.
    Py_TRASHCAN_BEGIN(self, ni_dealloc)
    ni_clear(self);
    tp->tp_free(self);
    Py_DECREF(tp);
    Py_TRASHCAN_END
}

int ni_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    auto* o = (NativeIterObject*)self;
    return o->step ? o->step->traverse(visit, arg) : 0;
}

PyObject* make_native_iter_type(PyObject*) {
    if (!native_iter_type) {
        static PyType_Slot slots[] = {
            {Py_tp_dealloc, (void*)ni_dealloc},
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
        native_iter_type = (PyTypeObject*)PyType_FromSpec(&spec);
        if (!native_iter_type) return nullptr;
    }
    return Py_NewRef((PyObject*)native_iter_type);
}

TV_REGISTER("NativeIter", make_native_iter_type);

struct EmptyStep final : Step {
    PyObject* step() override { return nullptr; }
};

}  // namespace

PyObject* native_iter_new(Step* step) noexcept {
    if (!native_iter_type) {
        PyObject* t = make_native_iter_type(nullptr);
        if (!t) {
            delete step;
            return nullptr;
        }
        Py_DECREF(t);
    }
    PyObject* self = native_iter_type->tp_alloc(native_iter_type, 0);
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
