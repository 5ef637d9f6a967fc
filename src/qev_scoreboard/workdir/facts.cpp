#include "qev_scoreboard/workdir/facts.hpp"

namespace qev_scoreboard {

namespace {

// Farther than any file system clock's resolution or lag behind the system's (whole seconds on some).
constexpr auto RACY_WINDOW = std::chrono::seconds(2);

std::chrono::system_clock::time_point as_time(platform::FileTime t) {
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::seconds(t.seconds) + std::chrono::nanoseconds(t.nanoseconds)));
}

}  // namespace

bool unchanged_since(const platform::FileInfo& then, std::chrono::system_clock::time_point taken,
                     const platform::FileInfo& now) {
    if (then.changed == platform::FileTime{}) return false;  // no change time kept: a rewrite can hide
    return platform::same_file(then, now) && then.kind == now.kind && then.size == now.size &&
           then.modified == now.modified && then.changed == now.changed && as_time(then.changed) + RACY_WINDOW < taken;
}

}  // namespace qev_scoreboard
