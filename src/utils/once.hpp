// A slot filled at most once per process (or per object) with a strong reference. One
// thread fills it while holding the interpreter lock; a thread that finds it being filled
// sleeps until the outcome is known, without holding the lock, so a fill that runs Python
// code (an import, inspect.signature) cannot deadlock against the waiters.
#pragma once
#include "utils/ref.hpp"

#include <atomic>
#include <cstdint>
#include <thread>

namespace tv {

// Bumped in a forked child (see watch_forks). A fill that was running in another thread
// of the parent has no thread to finish it in the child; a cell that is "filling" under
// an older generation is therefore free to be filled again.
inline std::atomic<uint32_t> fork_generation{0};
// Installs the fork handler once per process; 0, or -1 with an exception set.
int watch_forks() noexcept;

class OnceCell {
public:
    // Returns the stored object (borrowed), filling it with `fill()` (which returns a new
    // reference, or nullptr with an exception set) when empty. A failed fill, or one that
    // throws, leaves the cell empty so that the next caller tries again.
    template <class F>
    PyObject* get(F&& fill) {
        for (;;) {
            uint64_t s = state_.load(std::memory_order_acquire);
            if (s == kFull) return value_;
            if (s == kEmpty || stale(s)) {
                uint64_t filling = kFilling | (uint64_t)fork_generation.load() << 2;
                if (state_.compare_exchange_strong(s, filling)) break;
                continue;
            }
            if (owner_.load(std::memory_order_relaxed) == std::this_thread::get_id())
                return fill_uncached(fill);  // the fill re-entered itself: do not wait
            Py_BEGIN_ALLOW_THREADS
            state_.wait(s, std::memory_order_acquire);
            Py_END_ALLOW_THREADS
        }
        owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
        PyObject* v;
        try {
            v = fill();
        } catch (...) {
            publish(nullptr);
            throw;
        }
        publish(v);
        return v;
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
    // Low two bits: empty, filling or full; above them, for "filling", the fork generation
    // in which the fill started.
    static constexpr uint64_t kEmpty = 0, kFilling = 1, kFull = 2;

    static bool stale(uint64_t s) {
        return (s & 3) == kFilling && (s >> 2) != fork_generation.load();
    }
    void publish(PyObject* v) {
        owner_.store(std::thread::id(), std::memory_order_relaxed);
        if (v) value_ = v;
        state_.store(v ? kFull : kEmpty, std::memory_order_release);
        state_.notify_all();
    }
    template <class F>
    PyObject* fill_uncached(F& fill) {
        // The caller gets a borrowed reference, so park the result where it stays alive.
        PyObject* v = fill();
        if (v) Py_XSETREF(spare_, v);
        return v;
    }

    std::atomic<uint64_t> state_{kEmpty};
    std::atomic<std::thread::id> owner_{};
    PyObject* value_ = nullptr;
    PyObject* spare_ = nullptr;
};

}  // namespace tv
