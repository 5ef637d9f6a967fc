#pragma once
// Replacing files so that a reader, a crash or a signal never sees half of one.
//
// A replacement is written to a short-named temporary file beside its target, locked while it is written,
// and renamed over it. What the user set survives: owner and group (where the system permits), permission
// bits, extended attributes and ACLs (those this user may set), and links (the file a link leads to is
// replaced, the link stays; in a shared sticky directory only links the kernel's protection would follow).
// A target that may not be written fails as a plain write would; where the directory refuses a new file,
// or would keep a temporary one (append-only), but the target itself may be written, the target is
// rewritten in place instead, never left half-written by a failure we can see. Every failure throws
// FileError; the original then stays and the temporary file is removed. A file-size limit fails the
// write with EFBIG: the signal it raises is held in the calling thread and consumed.

#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard {

namespace fs = std::filesystem;

// Replaces `path` with `content`, flushed before the rename. A new file gets mode 0666 less the umask;
// an existing one keeps its mode, owner and group. `written`, when given, receives the description of the
// file written, taken once it has its name.
void write_file_atomic(const fs::path& path, std::string_view content, platform::FileInfo* written = nullptr);

// What a streamed replacement is written with: `produce` hands each piece of the new content, in order,
// to the writer it is given. It may be called again, to start over, when another run replaced the
// target meanwhile.
using ContentWriter = std::function<void(std::string_view)>;
using ContentProducer = std::function<void(const ContentWriter&)>;

// write_file_atomic with the content made piece by piece, never held whole. Where the target must be
// rewritten in place, the pieces are gathered first: that fallback holds the old and the new content.
void write_file_atomic(const fs::path& path, const ContentProducer& produce);

// Copies the regular file `src` to `dst`: content and permission bits; an existing `dst` keeps its owner
// and group and takes the time of its replacement, a new one takes the access and modification times of
// `src` (so an editor holding the old file sees that it changed, rather than saving over the new one).
void copy_file_atomic(const fs::path& src, const fs::path& dst);

// copy_file_atomic from the regular file already open as `in`, read from where it stands to its end, with
// the mode and times of `src_info` (what `in` was before anything read it); `src` names it in errors. The
// copy's content reaches the disk before it takes the name.
void copy_open_file_atomic(platform::NativeHandle in, const platform::FileInfo& src_info, const fs::path& src,
                           const fs::path& dst);

// A copy made in three steps, so that many are flushed together and only then put in place, each name
// holding its old or its new bytes at every instant: the content written beside the target (when made),
// flushed (flush(), after start_flush() of all of them), then renamed over it (commit()). Where no
// temporary file can take the target's place, commit() rewrites the target in place instead, flushed,
// from `in`, which must stay open until then. A copy never committed leaves the target as it was and
// removes its temporary file.
class PreparedCopy {
 public:
    // Sees each piece of the content as it is copied (so that it is read once for a fingerprint too).
    using Observer = std::function<void(std::string_view)>;
    PreparedCopy(platform::NativeHandle in, const platform::FileInfo& src_info, const fs::path& src,
                 const fs::path& dst, Observer observe = {});
    ~PreparedCopy();
    PreparedCopy(const PreparedCopy&) = delete;
    PreparedCopy& operator=(const PreparedCopy&) = delete;

    void start_flush() noexcept;
    void flush();
    // `after`, when given, receives the description of the file put in place (see TemporaryFile::commit).
    void commit(platform::FileInfo* after = nullptr);
    // The directory that holds the name once committed: flushed after, so that the new entry stays.
    const fs::path& directory() const;

 private:
    struct State;
    std::unique_ptr<State> s_;
};

// For programs, not libraries: on SIGINT, SIGTERM or SIGHUP, remove the temporary files in flight and
// end by that same signal. A signal the process ignores stays ignored.
void remove_temporary_files_on_signals();

}  // namespace qev_scoreboard
