// Long native loops stay interruptible: a loop over a C iterator or a large buffer never
// returns to the interpreter's eval loop, which is where Ctrl-C is normally noticed.
#pragma once
#include "utils/compat.hpp"

#include <cstddef>
#include <cstdint>

namespace tv {

// Asks for pending signals once every kEvery ticks: a decrement and a branch per element,
// one call into the interpreter per few thousand.
class SignalPoll {
public:
    static constexpr uint32_t kEvery = 4096;
    // False with the signal handler's exception (KeyboardInterrupt) set.
    // A call may stand for a run of n steps at once (n <= kEvery).
    bool ok(uint32_t n = 1) noexcept {
        if (left_ > n) [[likely]] {
            left_ -= n;
            return true;
        }
        left_ = kEvery;
        return PyErr_CheckSignals() == 0;
    }
    // Makes the next ok() the one that checks (after a run of kEvery unchecked steps).
    void expire() noexcept { left_ = 1; }

private:
    uint32_t left_ = kEvery;
};

// Native scans over raw buffers go in runs of this many elements, with a signal check
// between two runs.
inline constexpr size_t kScanRun = size_t(1) << 16;

}  // namespace tv
