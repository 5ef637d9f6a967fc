#pragma once
// The temporary file a replacement is written to beside its target, what an interrupt removes (the
// temporary files and directories in flight), and the left-overs of runs killed outright.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "qev_scoreboard/platform/destination.hpp"
#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard::platform {

namespace fs = std::filesystem;

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
    // `after`, when given, receives the file's description once it has its name (its change time
    // included, which the rename may set), taken through the handle: of this file, whatever another run
    // renames over the name a moment later.
    void commit(const Destination& at, const fs::path& shown, const char* action, FileInfo* after = nullptr);

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

// While one lives (a run that writes many files), each directory is cleared of left-overs once at most:
// its other files are put in place without looking through it again, past this run's own files in flight.
class LeftOversClearedOnce {
 public:
    LeftOversClearedOnce() noexcept;
    ~LeftOversClearedOnce();
    LeftOversClearedOnce(const LeftOversClearedOnce&) = delete;
    LeftOversClearedOnce& operator=(const LeftOversClearedOnce&) = delete;
};

// Whether the directory named by `key` (its identity, in the system's terms) is still to be cleared: true
// outside any LeftOversClearedOnce, else the first time only.
bool left_overs_due(const std::string& key) noexcept;

// Removes every temporary file in flight in this process, then every directory in flight that is empty
// by then. Async-signal-safe.
void remove_temporaries_in_flight() noexcept;

// Puts the directory `dir`, which this run made and holds (`held`, from hold_directory), in flight: an
// interrupt removes it if nothing but temporary files is in it. Returns the slot to give untrack_directory
// (-1 when every slot is taken: then only the next run's clean-up covers it). Make, hold and track it
// with interrupts deferred.
int track_directory(NativeHandle held, const fs::path& dir) noexcept;
void untrack_directory(int slot) noexcept;

}  // namespace qev_scoreboard::platform
