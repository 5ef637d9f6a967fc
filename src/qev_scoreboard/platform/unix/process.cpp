#include "qev_scoreboard/platform/process.hpp"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "qev_scoreboard/platform/interrupt_notice.hpp"
#include "qev_scoreboard/platform/unix/variants.hpp"

namespace qev_scoreboard::platform {

namespace {

void (*g_cleanup)() noexcept = nullptr;

// Straight to the descriptor: stdio is not for a signal handler, and what it holds unflushed is lost
// with the process anyway.
void write_notice() noexcept {
    const std::string_view text = interrupt_notice();
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(1, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void on_ending_signal(int sig) {
    const int saved = errno;
    if (g_cleanup != nullptr) g_cleanup();
    write_notice();
    errno = saved;
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

}  // namespace

void on_interrupt(void (*cleanup)() noexcept) {
    g_cleanup = cleanup;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = on_ending_signal;
        sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, nullptr);
    }
}

void ignore_file_size_signal() { ::signal(SIGXFSZ, SIG_IGN); }

static_assert(sizeof(sigset_t) <= 128, "InterruptsDeferred::saved_ too small");

InterruptsDeferred::InterruptsDeferred(Defer which) {
    sigset_t set;
    sigemptyset(&set);
    if (which == Defer::AllInterrupts) {
        sigfillset(&set);
        // Faults are raised by the code itself; blocking them would only make them fatal.
        for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(&set, sig);
    }
    sigaddset(&set, SIGXFSZ);
    sigset_t pending;
    sigpending(&pending);
    flag_ = sigismember(&pending, SIGXFSZ) == 1;
    sigset_t old;
    ::pthread_sigmask(SIG_BLOCK, &set, &old);
    std::memcpy(saved_, &old, sizeof old);
}

InterruptsDeferred::~InterruptsDeferred() {
    sigset_t old;
    std::memcpy(&old, saved_, sizeof old);
    sigset_t pending;
    // A file-size signal one of our writes raised meanwhile: consumed, its write failed with EFBIG.
    if (!flag_ && sigismember(&old, SIGXFSZ) != 1 && sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1) {
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, SIGXFSZ);
#if QEV_USE_LINUX_CALLS
        const struct timespec now {};
        ::sigtimedwait(&only, nullptr, &now);
#else
        // Pending, so this returns at once.
        int sig = 0;
        ::sigwait(&only, &sig);
#endif
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace qev_scoreboard::platform
