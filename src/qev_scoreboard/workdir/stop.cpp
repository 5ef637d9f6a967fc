#include "qev_scoreboard/workdir/stop.hpp"

#include <utility>

namespace qev_scoreboard {

namespace {
thread_local ScopedStopCheck* g_stop_check = nullptr;
}  // namespace

ScopedStopCheck::ScopedStopCheck(std::function<bool()> check) : check_(std::move(check)), previous_(g_stop_check) {
    g_stop_check = this;
}

ScopedStopCheck::~ScopedStopCheck() { g_stop_check = previous_; }

void stop_point(const std::filesystem::path& base) {
    if (g_stop_check != nullptr && g_stop_check->check_ && g_stop_check->check_()) throw RunStopped(base);
}

}  // namespace qev_scoreboard
