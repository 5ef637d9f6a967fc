#pragma once
// The time as the file system stamps files with it, and a short pause: for waiting until a file written
// now can no longer share its change time with one written next.

#include "qev_scoreboard/platform/files.hpp"

namespace qev_scoreboard::platform {

// Now, from the clock the system stamps files with (Linux: the coarse real-time clock, a tick behind).
FileTime file_system_time() noexcept;

// Sleeps about a millisecond.
void pause_briefly() noexcept;

}  // namespace qev_scoreboard::platform
