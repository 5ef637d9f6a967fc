#pragma once
// The temporary files in flight, kept the same way by each system's replacement code: readable from an
// interrupt (a signal handler, the console's interrupt thread) with no lock and no allocation. A slot is
// claimed, filled, then marked live; an interrupt removes only live ones, after our own open succeeded,
// so a name another process happens to hold is never deleted. Not for use above the platform layer.

#include <atomic>
#include <cstddef>

namespace qev_scoreboard::platform {

template <typename Where, std::size_t Slots = 16>
class InFlightTable {
 public:
    // Claims a free slot and has `fill(Where&)` name the file in it; -1 when every slot is taken (then only
    // the ordinary clean-up covers that file).
    template <typename Fill>
    int claim(Fill fill) noexcept {
        for (std::size_t i = 0; i < Slots; ++i) {
            bool expected = false;
            if (!slots_[i].claimed.compare_exchange_strong(expected, true)) continue;
            fill(slots_[i].where);
            return static_cast<int>(i);
        }
        return -1;
    }

    void mark_live(int slot) noexcept {
        if (slot >= 0) slots_[slot].live.store(true, std::memory_order_release);
    }

    void release(int slot) noexcept {
        if (slot < 0) return;
        slots_[slot].live.store(false, std::memory_order_release);
        slots_[slot].claimed.store(false, std::memory_order_release);
    }

    // Calls `fn(const Where&)` for every live slot. Async-signal-safe as long as `fn` is.
    template <typename Fn>
    void for_each_live(Fn fn) const noexcept {
        for (const Slot& s : slots_)
            if (s.live.load(std::memory_order_acquire)) fn(s.where);
    }

 private:
    struct Slot {
        std::atomic<bool> claimed{false};
        std::atomic<bool> live{false};
        Where where;
    };
    Slot slots_[Slots];
};

}  // namespace qev_scoreboard::platform
