#pragma once
// Interrupts: what a program does when the user stops it (Ctrl+C, a terminal or console closed, a
// termination request), and keeping them away from a write in progress.

namespace qev_scoreboard::platform {

// For programs, not libraries: on an interrupt (SIGINT, SIGTERM, SIGHUP; Ctrl+C, Ctrl+Break and the
// console closing on Windows), `cleanup` runs and the process ends as that interrupt ends it. An
// interrupt the process ignores stays ignored. `cleanup` must be async-signal-safe; on Windows it runs
// on a thread of its own while the others go on.
void on_interrupt(void (*cleanup)() noexcept);

// While it lives, interrupts (and SIGXFSZ, so an exceeded size limit is the write's EFBIG) wait in the
// calling thread; they are delivered when it ends. Other threads are untouched. Nothing on Windows,
// whose interrupts run on a thread of their own.
class InterruptsDeferred {
 public:
    InterruptsDeferred();
    ~InterruptsDeferred();
    InterruptsDeferred(const InterruptsDeferred&) = delete;
    InterruptsDeferred& operator=(const InterruptsDeferred&) = delete;

 private:
    alignas(8) unsigned char saved_[128];  // the thread's previous signal mask
};

}  // namespace qev_scoreboard::platform
