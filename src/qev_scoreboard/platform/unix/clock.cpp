#include "qev_scoreboard/platform/clock.hpp"

#include <time.h>

#include "qev_scoreboard/platform/unix/system_calls.hpp"

namespace qev_scoreboard::platform {

FileTime file_system_time() noexcept {
    struct timespec ts {};
#if defined(CLOCK_REALTIME_COARSE)
    if (sys::clock_gettime_uncounted(CLOCK_REALTIME_COARSE, &ts) == 0)
        return {ts.tv_sec, static_cast<std::int32_t>(ts.tv_nsec)};
#endif
    sys::clock_gettime_uncounted(CLOCK_REALTIME, &ts);
    return {ts.tv_sec, static_cast<std::int32_t>(ts.tv_nsec)};
}

void pause_briefly() noexcept {
    const struct timespec ms { 0, 1000000 };
    sys::nanosleep(&ms);
}

}  // namespace qev_scoreboard::platform
