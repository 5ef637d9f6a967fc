// The interrupt's notice, the same on every system.
#include "qev_scoreboard/platform/interrupt_notice.hpp"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>

#include "qev_scoreboard/platform/process.hpp"

namespace qev_scoreboard::platform {

namespace {

// Two buffers: the one an interrupt may be reading is never the one being rewritten.
constexpr std::size_t NOTICE_SIZE = std::size_t{64} << 10;
char g_notices[2][NOTICE_SIZE];
std::atomic<std::size_t> g_notice_size[2];
std::atomic<int> g_notice{-1};

}  // namespace

void set_interrupt_notice(std::string_view text) noexcept {
    if (text.empty()) {
        g_notice.store(-1);
        return;
    }
    const int next = g_notice.load() == 0 ? 1 : 0;
    const std::size_t size = std::min(text.size(), NOTICE_SIZE);
    std::memcpy(g_notices[next], text.data(), size);
    g_notice_size[next].store(size);
    g_notice.store(next);
}

std::string_view interrupt_notice() noexcept {
    const int which = g_notice.load();
    if (which < 0) return {};
    return {g_notices[which], g_notice_size[which].load()};
}

}  // namespace qev_scoreboard::platform
