#pragma once
// Interrupts: what a program does when the user stops it (Ctrl+C, a terminal or console closed, a
// termination request), and keeping them away from a write in progress.

#include <string_view>

namespace qev_scoreboard::platform {

// For programs, not libraries: on an interrupt (SIGINT, SIGTERM, SIGHUP; Ctrl+C, Ctrl+Break and the
// console closing on Windows), `cleanup` runs and the process ends as that interrupt ends it. An
// interrupt the process ignores stays ignored. `cleanup` must be async-signal-safe; on Windows it runs
// on a thread of its own while the others go on.
void on_interrupt(void (*cleanup)() noexcept);

// For programs, not libraries: what an interrupt (as on_interrupt) writes to standard output, after the
// clean-up and before the process ends: what the user must be told however the run ends. Each call
// replaces the whole text (at most 64 KiB are kept); an empty text writes nothing.
void set_interrupt_notice(std::string_view text) noexcept;

// For programs, not libraries: exceeding the file-size limit fails the write with EFBIG instead of
// ending the process (SIGXFSZ ignored). Nothing where the system has no such signal.
void ignore_file_size_signal();

// While it lives, the calling thread holds back the file-size signal (so an exceeded limit is only the
// write's EFBIG: one raised meanwhile is consumed) and, with Defer::AllInterrupts, every catchable
// signal, delivered when it ends. Other threads are untouched. Nothing on Windows, whose interrupts run
// on a thread of their own.
enum class Defer { FileSizeSignal, AllInterrupts };

class InterruptsDeferred {
 public:
    explicit InterruptsDeferred(Defer which);
    ~InterruptsDeferred();
    InterruptsDeferred(const InterruptsDeferred&) = delete;
    InterruptsDeferred& operator=(const InterruptsDeferred&) = delete;

 private:
    alignas(8) unsigned char saved_[128];  // the thread's previous signal mask
    bool flag_ = false;  // POSIX: a file-size signal was pending before; Windows: this one defers interrupts
};

}  // namespace qev_scoreboard::platform
