#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "qev_scoreboard/platform/unix/file_info.hpp"
#include "qev_scoreboard/platform/unix/system_calls.hpp"

namespace qev_scoreboard::platform {

namespace {

#if QEV_HAVE_LINUX_CALLS
// FAT and exFAT keep no change time: the kernel makes one up from the modification time, which a rewrite
// can put back.
constexpr long MSDOS_MAGIC = 0x4d44;
constexpr long EXFAT_MAGIC = 0x2011bab0;

bool kept_by(const struct statfs& fs) { return fs.f_type != MSDOS_MAGIC && fs.f_type != EXFAT_MAGIC; }
#else
bool kept_by(const struct statfs& fs) {
    return std::strcmp(fs.f_fstypename, "msdos") != 0 && std::strcmp(fs.f_fstypename, "exfat") != 0;
}
#endif

// Per device, as a machine has few: asked once each.
std::mutex g_mutex;
std::vector<std::pair<std::uint64_t, bool>> g_kept;

template <typename Ask>
bool change_time_kept(std::uint64_t device, Ask ask) {
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        for (const auto& [known, kept] : g_kept)
            if (known == device) return kept;
    }
    struct statfs fs {};
    // Not known: taken as not kept, so the file is read rather than trusted, and asked again next time.
    if (ask(fs) != 0) return false;
    const bool kept = kept_by(fs);
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_kept.emplace_back(device, kept);
    return kept;
}

}  // namespace

void unix_files::forget_unkept_change_time(FileInfo& info, int fd) noexcept {
    if (!change_time_kept(info.device, [&](struct statfs& fs) { return sys::fstatfs(fd, &fs); })) info.changed = {};
}

void unix_files::forget_unkept_change_time(FileInfo& info, const char* path) noexcept {
    if (!change_time_kept(info.device, [&](struct statfs& fs) { return sys::statfs(path, &fs); })) info.changed = {};
}

}  // namespace qev_scoreboard::platform
