#include "qev_scoreboard/platform/clock.hpp"

#include "qev_scoreboard/platform/win/file_info.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

FileTime file_system_time() noexcept {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return win::from_filetime(now);
}

void pause_briefly() noexcept { ::Sleep(1); }

}  // namespace qev_scoreboard::platform
