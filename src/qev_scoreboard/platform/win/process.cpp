#include "qev_scoreboard/platform/process.hpp"

#include <atomic>

#include "qev_scoreboard/platform/console.hpp"
#include "qev_scoreboard/platform/interrupt_notice.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

namespace {

std::atomic<void (*)() noexcept> g_cleanup{nullptr};
// In-place rewrites under way: an interrupt waits for them, as a blocked signal would.
std::atomic<int> g_deferring{0};

void write_notice() noexcept {
    try {
        write_stdout(interrupt_notice());
        flush_stdout();
    } catch (...) {
    }
}

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            break;
        default:
            return FALSE;
    }
    // The console gives a closing process about five seconds; a rewrite takes far less.
    for (int waited = 0; g_deferring.load() > 0 && waited < 4000; waited += 10) ::Sleep(10);
    if (auto cleanup = g_cleanup.load()) cleanup();
    write_notice();
    // As the system's own handler ends it: a run cut short must not look like success to its caller
    // (wine's default handler would exit with 0).
    ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace

void on_interrupt(void (*cleanup)() noexcept) {
    g_cleanup = cleanup;
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
}

void ignore_file_size_signal() {}

InterruptsDeferred::InterruptsDeferred(Defer which) : saved_{} {
    flag_ = which == Defer::AllInterrupts;
    if (flag_) ++g_deferring;
}

InterruptsDeferred::~InterruptsDeferred() {
    if (flag_) --g_deferring;
}

}  // namespace qev_scoreboard::platform
