// A slot filled at most once per process (or per object) with a strong reference. One
// thread fills it while holding the interpreter lock; a thread that finds it being filled
// waits for the outcome without holding the lock, so a fill that runs Python code (an
// import, inspect.signature) cannot deadlock against the waiters.
#pragma once
#include "utils/ref.hpp"

#include <atomic>
#include <thread>

namespace tv {

class OnceCell {
public:
    // Returns the stored object (borrowed), filling it with `fill()` (which returns a new
    // reference, or nullptr with an exception set) when empty. A failed fill leaves the
    // cell empty so that the next caller tries again.
    template <class F>
    PyObject* get(F&& fill) {
        for (;;) {
            int s = state_.load(std::memory_order_acquire);
            if (s == kFull) return value_;
            if (s == kEmpty) {
                int expected = kEmpty;
                if (state_.compare_exchange_strong(expected, kFilling)) break;
                continue;
            }
            if (owner_.load(std::memory_order_relaxed) == std::this_thread::get_id())
                return fill_uncached(fill);  // the fill re-entered itself: do not wait
            Py_BEGIN_ALLOW_THREADS
            while (state_.load(std::memory_order_acquire) == kFilling) std::this_thread::yield();
            Py_END_ALLOW_THREADS
        }
        owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
        PyObject* v = fill();
        owner_.store(std::thread::id(), std::memory_order_relaxed);
        if (!v) {
            state_.store(kEmpty, std::memory_order_release);
            return nullptr;
        }
        value_ = v;
        state_.store(kFull, std::memory_order_release);
        return value_;
    }
    PyObject* peek() const {
        return state_.load(std::memory_order_acquire) == kFull ? value_ : nullptr;
    }
    // For objects that own their cell: drop the stored reference.
    void clear() {
        if (state_.load(std::memory_order_acquire) == kFull) {
            state_.store(kEmpty, std::memory_order_release);
            Py_CLEAR(value_);
        }
        Py_CLEAR(spare_);
    }
    // Installs an already known value (a partial application inheriting its signature).
    void preset(PyObject* stolen) {
        value_ = stolen;
        state_.store(kFull, std::memory_order_release);
    }

private:
    template <class F>
    PyObject* fill_uncached(F& fill) {
        // The caller gets a borrowed reference, so park the result where it stays alive.
        PyObject* v = fill();
        if (v) Py_XSETREF(spare_, v);
        return v;
    }

    static constexpr int kEmpty = 0, kFilling = 1, kFull = 2;
    std::atomic<int> state_{kEmpty};
    std::atomic<std::thread::id> owner_{};
    PyObject* value_ = nullptr;
    PyObject* spare_ = nullptr;
};

}  // namespace tv
