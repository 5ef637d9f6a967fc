#include "qev_scoreboard/platform/random.hpp"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "qev_scoreboard/platform/unix/system_calls.hpp"
#include "qev_scoreboard/platform/unix/variants.hpp"

#if QEV_HAVE_LINUX_CALLS
#include <sys/random.h>
#endif

namespace qev_scoreboard::platform {

namespace unix_variants {

#if QEV_HAVE_LINUX_CALLS
bool random_bytes_linux(unsigned char* buf, std::size_t size) {
    while (size > 0) {
        // Non-blocking: early in boot the pool may not be ready, and a name must not wait for it.
        const ssize_t n = sys::getrandom(buf, size, GRND_NONBLOCK);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        buf += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}
#endif

bool random_bytes_posix(unsigned char* buf, std::size_t size) {
    const int fd = sys::open("/dev/urandom", O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    while (size > 0) {
        const ssize_t n = sys::read(fd, buf, size);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            sys::close(fd);
            return false;
        }
        buf += n;
        size -= static_cast<std::size_t>(n);
    }
    sys::close(fd);
    return true;
}

}  // namespace unix_variants

namespace {

// splitmix64 over the clock, the process id and a counter: distinct names without a random source.
void mix_clock(unsigned char* buf, std::size_t size) {
    static std::atomic<std::uint64_t> counter{0};
    struct timespec ts {};
    sys::clock_gettime(CLOCK_REALTIME, &ts);
    std::uint64_t x = static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
    x ^= static_cast<std::uint64_t>(::getpid()) << 40;
    x += counter.fetch_add(1) * 0x9E3779B97F4A7C15u;
    spread_seed(x, buf, size);
}

}  // namespace

void random_bytes(unsigned char* buf, std::size_t size) {
#if QEV_USE_LINUX_CALLS
    if (unix_variants::random_bytes_linux(buf, size)) return;
#endif
    if (unix_variants::random_bytes_posix(buf, size)) return;
    mix_clock(buf, size);
}

}  // namespace qev_scoreboard::platform
