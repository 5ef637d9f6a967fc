// Compiled into the tests' build of the platform layer only (QEV_FAULT_INJECTION), on POSIX systems.
#include "qev_scoreboard/platform/fault_injection.hpp"

#if QEV_FAULT_INJECTION

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace qev_scoreboard::platform::faults {

namespace {

std::atomic<bool> g_armed{false};
std::atomic<std::uint64_t> g_calls{0};
std::uint64_t g_at = 0;
int g_error = 0;
Persist g_persist = Persist::Once;
std::atomic<const char*> g_fired{nullptr};
std::vector<const char*>* g_trace = nullptr;

}  // namespace

bool takes_space(const char* name) noexcept {
    for (const char* space : {"write", "pwrite", "copy_file_range", "fallocate", "posix_fallocate", "ftruncate"})
        if (std::strcmp(name, space) == 0) return true;
    return false;
}

int before(const char* name, bool interruptible) noexcept {
    if (!g_armed.load(std::memory_order_relaxed)) return 0;
    const std::uint64_t n = g_calls.fetch_add(1, std::memory_order_relaxed) + 1;
    if (g_trace != nullptr) {
        try {
            g_trace->push_back(name);
        } catch (...) {
            g_trace = nullptr;  // out of memory: the names stop, the count goes on
        }
    }
    if (const char* fired = g_fired.load(); fired != nullptr && g_persist == Persist::SameKind) {
        const bool same = takes_space(fired) ? takes_space(name) : std::strcmp(fired, name) == 0;
        if (!same || (g_error == EINTR && !interruptible)) return 0;
        return g_error;
    }
    if (n != g_at) return 0;
    if (g_error == 0) {
        g_fired.store(name);
        ::kill(::getpid(), SIGKILL);
        ::_exit(137);  // not reached
    }
    if (g_error == EINTR && !interruptible) return 0;
    g_fired.store(name);
    return g_error;
}

void arm(std::uint64_t at, int error, Persist persist) noexcept {
    g_armed.store(false);
    g_at = at;
    g_error = error;
    g_persist = persist;
    g_calls.store(0);
    g_fired.store(nullptr);
    g_armed.store(true);
}

void disarm() noexcept { g_armed.store(false); }

std::uint64_t calls() noexcept { return g_calls.load(); }

void trace(std::vector<const char*>* names) noexcept { g_trace = names; }

}  // namespace qev_scoreboard::platform::faults

#endif
