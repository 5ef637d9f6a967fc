#include "qev_scoreboard/workdir/facts.hpp"

namespace qev_scoreboard {

namespace {

// Farther than any file system clock's resolution or lag behind the system's (whole seconds on some).
constexpr auto RACY_WINDOW = std::chrono::seconds(2);

std::int64_t nanoseconds(platform::FileTime t) { return t.seconds * 1000000000 + t.nanoseconds; }

std::chrono::system_clock::time_point as_time(platform::FileTime t) {
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::seconds(t.seconds) + std::chrono::nanoseconds(t.nanoseconds)));
}

}  // namespace

FileFacts facts_of(const platform::FileInfo& info) {
    return {info.size, nanoseconds(info.modified), nanoseconds(info.changed), info.file_id, info.device};
}

bool unchanged_since(const platform::FileInfo& then, std::chrono::system_clock::time_point taken,
                     const platform::FileInfo& now) {
    if (then.changed == platform::FileTime{}) return false;  // no change time kept: a rewrite can hide
    return then.kind == now.kind && facts_of(then) == facts_of(now) && as_time(then.changed) + RACY_WINDOW < taken;
}

std::optional<FileFacts> settled_facts(const platform::FileInfo& info,
                                       std::chrono::system_clock::time_point looked_at) {
    if (info.kind != platform::FileKind::Regular || info.changed == platform::FileTime{}) return std::nullopt;
    if (as_time(info.changed) + RACY_WINDOW >= looked_at) return std::nullopt;
    return facts_of(info);
}

bool unchanged_since_record(const std::optional<FileFacts>& recorded,
                            const std::optional<platform::FileTime>& record_written, const platform::FileInfo& now) {
    if (!recorded || !record_written || recorded->changed_ns == 0) return false;
    return now.kind == platform::FileKind::Regular && *recorded == facts_of(now) &&
           recorded->changed_ns < nanoseconds(*record_written);
}

}  // namespace qev_scoreboard
