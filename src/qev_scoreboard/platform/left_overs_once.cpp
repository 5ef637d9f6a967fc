#include <mutex>
#include <set>
#include <string>

#include "qev_scoreboard/platform/temporary_file.hpp"

namespace qev_scoreboard::platform {

namespace {

std::mutex g_mutex;
int g_scopes = 0;
std::set<std::string> g_cleared;

}  // namespace

LeftOversClearedOnce::LeftOversClearedOnce() noexcept {
    const std::lock_guard<std::mutex> lock(g_mutex);
    ++g_scopes;
}

LeftOversClearedOnce::~LeftOversClearedOnce() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (--g_scopes == 0) g_cleared.clear();
}

bool left_overs_due(const std::string& key) noexcept {
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (g_scopes == 0) return true;
    try {
        return g_cleared.insert(key).second;
    } catch (...) {
        return true;  // out of memory: cleared again, as without a scope
    }
}

}  // namespace qev_scoreboard::platform
