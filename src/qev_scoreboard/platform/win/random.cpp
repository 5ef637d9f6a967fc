#include "qev_scoreboard/platform/random.hpp"

#include <atomic>
#include <climits>
#include <cstdint>

#include "qev_scoreboard/platform/win/windows.hpp"
// After windows.hpp, which it needs.
#include <bcrypt.h>

namespace qev_scoreboard::platform {

namespace {

bool system_random(unsigned char* buf, std::size_t size) {
    while (size > 0) {
        const ULONG n = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, buf, n, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
        buf += n;
        size -= n;
    }
    return true;
}

// splitmix64 over the clock, the process id and a counter: distinct names without a random source.
void mix_clock(unsigned char* buf, std::size_t size) {
    static std::atomic<std::uint64_t> counter{0};
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    std::uint64_t x = static_cast<std::uint64_t>(now.QuadPart) ^ (std::uint64_t{::GetCurrentProcessId()} << 40);
    x += counter.fetch_add(1) * 0x9E3779B97F4A7C15u;
    spread_seed(x, buf, size);
}

}  // namespace

void random_bytes(unsigned char* buf, std::size_t size) {
    if (!system_random(buf, size)) mix_clock(buf, size);
}

}  // namespace qev_scoreboard::platform
