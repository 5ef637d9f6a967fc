#pragma once
// Telling that a file is unchanged without reading it: by its facts (size, modification and change
// times, identity), as they were when its fingerprint was taken. A file whose facts all match is the
// same file with the same bytes, unless it changed within the file system clock's resolution of when its
// facts were taken ("racily clean"): only facts older than that are trusted. When in doubt, read.

#include <chrono>
#include <cstdint>
#include <optional>

#include "qev_scoreboard/platform/files.hpp"

namespace qev_scoreboard {

// The facts of a file that any change of its bytes changes: its size and times (in nanoseconds since
// 1970), its identity on this machine.
struct FileFacts {
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;
    std::int64_t changed_ns = 0;  // 0: the file system keeps no change time
    std::uint64_t file_id = 0;
    std::uint64_t device = 0;
    friend bool operator==(const FileFacts&, const FileFacts&) = default;
};

FileFacts facts_of(const platform::FileInfo& info);

// Whether `now` is `then`, taken at `taken` (system time), unchanged since: the same file with the same
// size and times, on a file system that keeps change times, last changed well before `taken`.
bool unchanged_since(const platform::FileInfo& then, std::chrono::system_clock::time_point taken,
                     const platform::FileInfo& now);

// The facts `info` of a file read (or about to be) by a run that looked at it no earlier than `looked_at`,
// where a record may keep them: none for a file changed shortly before, which a change made in the same
// clock tick as that look could alter without changing its facts; the file is read again next time.
std::optional<FileFacts> settled_facts(const platform::FileInfo& info, std::chrono::system_clock::time_point looked_at);

// Whether the file described by `now` is the one a record written at `record_written` (its file's own
// modification time) describes by `recorded`: all facts equal, a change time kept, and the file last
// changed strictly before the record was written, so that no change made in the same clock tick as the
// record can hide behind equal facts.
bool unchanged_since_record(const std::optional<FileFacts>& recorded,
                            const std::optional<platform::FileTime>& record_written, const platform::FileInfo& now);

}  // namespace qev_scoreboard
