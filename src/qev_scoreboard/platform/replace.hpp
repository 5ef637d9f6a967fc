#pragma once
// What replacing a file through a temporary one needs from the system: where the write lands, a
// temporary file beside the target, its attributes, its content copied, flushing, and the replacement
// itself. Failures throw FileError(action, shown) as in files.hpp, or return an errno value where the
// caller decides what a failure means.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard::platform {

// Where a write to a path lands: the directory that holds it, open, and its name there, which is never
// a link. The file described here is the file a later operation on (dir, name) reaches.
struct Destination {
    File dir;           // the holding directory (POSIX: opened for lookups only)
    fs::path dir_path;  // the same directory by name (Windows works by name)
    std::string name;
    bool exists = false;
    bool via_link = false;  // the path's last component was a link
    FileInfo info;          // of the file, when it exists
};

// Follows `path` to where a write lands. On POSIX systems it walks component by component through
// directory descriptors; a link that stands for the name written (the path's last component, or the
// last component of what such a link leads to) in a directory that anyone besides its owner may write is
// followed only when it belongs to this user or to the directory's owner, else ForeignLinkRefused is
// thrown. On Windows the system resolves the links of an existing file.
Destination resolve_destination(const fs::path& path, const char* action);

// True when the directory refuses to let entries go (append-only or immutable): a temporary file made
// there could be neither renamed over its target nor removed. False where that cannot be known.
bool keeps_entries(const Destination& at);

// Opens the existing file of `at` without following links, checked to be the file described
// (FileReplacedMeanwhile when another took its name) and writable by this process (as a plain write would
// be refused), for its attributes only. On Windows, where any open handle on the target makes the system
// refuse to replace it, the file is checked and closed again: the result is empty.
File open_existing(const Destination& at, const fs::path& shown, const char* action);

// Opens the existing file of `at` for reading and writing in place, checked as open_existing does and
// to be a regular file, without blocking on anything else.
File open_for_rewrite(const Destination& at, const fs::path& shown, const char* action);

// True when a rename over the existing file of `at` would be refused where a plain write is not: in a
// sticky directory (a shared one, like /tmp) only the owner of the file or of the directory may replace
// it. Always false on Windows.
bool replacement_refused(const Destination& at);

// A temporary file beside a destination, ".qev-" and 8 random characters (short: the target's own name
// may already be as long as a name can be), locked while it is written so no other run takes it for a
// left-over, and removed again unless commit() put it in the target's place. An interrupt removes it
// through remove_temporaries_in_flight().
class TemporaryFile {
 public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile();

    // Creates it with `permissions` (less the umask). Returns false, creating nothing, when the
    // directory refuses new files (EACCES, EPERM).
    bool create(const Destination& at, std::uint32_t permissions, const fs::path& shown, const char* action);
    NativeHandle handle() const { return file_.get(); }
    // Renames it over the target while still open and locked (closed first, it could be taken for a
    // left-over), makes the rename durable, then closes it. On Windows it is renamed through its handle; a
    // target held open by another program, whatever that program shares, is retried for about a second,
    // then reported as EBUSY ("başka bir program tarafından kullanılıyor"), the target untouched.
    void commit(const Destination& at, const fs::path& shown, const char* action);

 private:
    NativeHandle dir_;
    fs::path dir_path_;
    std::string name_;
    File file_;
    int slot_ = -1;      // in the interrupt's list; -1 when the list is full
    bool ours_ = false;  // created by us and not yet in the target's place
};

// True for a name TemporaryFile makes.
bool is_temporary_name(std::string_view name);

// Removes the temporary files that runs killed outright left beside `at`: only those nobody holds
// locked, and only while the name still leads to the file locked. Best effort: what cannot go stays.
void remove_left_over_temporaries(const Destination& at) noexcept;

// The same beside the files of the directory `dir`.
void remove_left_over_temporaries_in(const fs::path& dir) noexcept;

// A directory this process fills, held so that remove_abandoned_directory() in any process leaves it
// alone while the handle is open. Never waits: empty when the name no longer leads to a directory, or
// when another process holds it already (it is then that one's: make another). Throws
// FileError(action, dir) when it cannot be opened for any other reason.
File hold_directory(const fs::path& dir, const char* action);

// Removes the directory `dir` that `held` holds (from hold_directory) if it is empty, before letting it
// go: no other run can have taken the name meanwhile, so only this run's own directory is removed.
// `held` is closed either way. Best effort.
void remove_held_directory(File& held, const fs::path& dir) noexcept;

// Removes `dir` when nobody holds it (hold_directory) and it holds nothing but left-over temporary
// files: what a run killed while it filled it left. Best effort.
void remove_abandoned_directory(const fs::path& dir) noexcept;

// Takes the directory `dir` for this process alone among the processes that ask for it here, waiting for
// the one that has it now, until the returned File is closed (or the process ends, however it ends):
// runs that decide what to keep in one directory take turns. Leaves nothing behind in `dir`. A file
// system that cannot lock is taken as it is. Throws FileError(action, dir) when `dir` cannot be opened.
File lock_directory(const fs::path& dir, const char* action);

// Removes every temporary file in flight in this process, then every directory in flight that is empty
// by then. Async-signal-safe.
void remove_temporaries_in_flight() noexcept;

// Puts the directory `dir`, which this run made and holds (`held`, from hold_directory), in flight: an
// interrupt removes it if nothing but temporary files is in it. Returns the slot to give untrack_directory
// (-1 when every slot is taken: then only the next run's clean-up covers it). Make, hold and track it
// with interrupts deferred.
int track_directory(NativeHandle held, const fs::path& dir) noexcept;
void untrack_directory(int slot) noexcept;

// Copies the whole remaining content of `in` to `out`, in the kernel where the system can.
void copy_content(NativeHandle in, NativeHandle out, const fs::path& src, const fs::path& dst);

// Gives `file` the owner and group `from` has, as far as this process may: both, else the group alone,
// else neither (no error: the file stays with this process's own). Nothing on Windows.
void keep_owner(NativeHandle file, const FileInfo& from);

// Copies the extended attributes (and with them ACLs and security labels) of `from` (from
// open_existing) to `to`, those this process may read and set. Nothing where the system has none.
void copy_extended_attributes(NativeHandle from, NativeHandle to, const fs::path& shown, const char* action);

// Sets the permission bits 07777 (on Windows: read-only when no write bit is set). 0 or the errno value.
int set_permissions(NativeHandle file, std::uint32_t permissions) noexcept;

// Sets the access and modification times. 0 or the errno value.
int set_times(NativeHandle file, FileTime accessed, FileTime modified) noexcept;

// Flushes the file's content and size to the disk. Action: "diske yazılamadı".
void flush_data(NativeHandle file, const fs::path& shown);

// Reserves the first `size` bytes of `file`, so a full disk shows before anything is overwritten: without
// changing its size where the system can (Linux, macOS), else lengthened with zeros to `size`, which the
// rewrite then fills. 0, or the errno value: EOPNOTSUPP where the system or file system cannot.
int reserve(NativeHandle file, std::uint64_t size) noexcept;

// Moves to the start of the file, and sets its length.
void rewind(NativeHandle file, const fs::path& shown, const char* action);
void truncate(NativeHandle file, std::uint64_t size, const fs::path& shown, const char* action);

// Writes `old` back from the start and cuts the file to its length, giving back what a longer rewrite
// reserved, as far as the system lets us: the last resort after a failed rewrite.
void put_back(NativeHandle file, std::string_view old, std::uint64_t new_size) noexcept;

}  // namespace qev_scoreboard::platform
