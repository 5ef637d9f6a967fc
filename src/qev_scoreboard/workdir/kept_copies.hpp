#pragma once
// What keeps an analyst's own work through an update. The work directory records the fingerprint of
// every file init and the auto-sync installed (db/.nb_installed.json); an installed file whose
// fingerprint differs from the recorded one holds the user's changes, and before it is replaced a copy
// of it is kept, on disk, under yedek/<UTC time of the run>/, where nothing ever overwrites it.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qev_scoreboard/platform/native_handle.hpp"
#include "qev_scoreboard/workdir/install_record.hpp"
#include "qev_scoreboard/workdir/plan.hpp"

namespace qev_scoreboard {

namespace fs = std::filesystem;

// Removes what runs killed while they kept copies left under base/yedek/: their empty folders and their
// temporary files; never what a live run holds, nor a folder the user named. Best effort.
void remove_abandoned_folders(const fs::path& base);

// The kept copies of one run, in yedek/<YYYYMMDD-HHMMSS of `run_time`, UTC>/ (with "-2", "-3", ... when a
// folder of that name exists already), made only when there is something to keep.
class KeptCopies {
 public:
    KeptCopies(fs::path base, const InstallRecord& record,
               std::chrono::system_clock::time_point run_time = std::chrono::system_clock::now());
    ~KeptCopies();
    KeptCopies(const KeptCopies&) = delete;
    KeptCopies& operator=(const KeptCopies&) = delete;

    // Looks at the installed file `rel` (relative to the work directory, "/" between names), about to be
    // replaced by content whose fingerprint is `incoming` unless it holds that already, and returns what
    // it found; `seen`, when given, is what a look before found, whose fingerprint holds while the file's
    // facts are unchanged. When the file is the user's own (is_users_own), its bytes, exactly those
    // fingerprinted, are kept before this returns: named again where a run's folder under yedek/ holds
    // them already under that name, else copied to this run's folder under the file's own name and
    // flushed to disk. A copy that cannot be made throws FileError naming it ("yedeklenemedi"), and the
    // caller replaces nothing.
    FoundFile keep_if_changed(const std::string& rel, const std::string& incoming, const FoundFile* seen = nullptr);

    // What keep_if_changed would tell of the user's own file `rel`, as `found` (fingerprinted) describes it,
    // copying nothing and making no folder: the earlier copy named again, or the copy this run would make.
    void tell_would_keep(const std::string& rel, const FoundFile& found);

    // The copies kept, relative to the work directory, as printed (the system's separator).
    const std::vector<std::string>& kept() const { return kept_; }

    // Told the copies kept so far each time one more is kept.
    void on_kept(std::function<void(const std::vector<std::string>&)> tell) { on_kept_ = std::move(tell); }

 private:
    const fs::path& folder();
    void tell_kept(std::string kept);
    std::optional<std::string> kept_before(const fs::path& name, std::uint64_t size,
                                           const std::string& fingerprint) const;

    fs::path base_;
    const InstallRecord& record_;
    std::string name_;     // the folder's name before any suffix
    fs::path folder_;      // once made
    platform::File held_;  // the folder, held while this run fills it
    int in_flight_ = -1;   // its place in the interrupt's list
    fs::path relative_;    // the same, relative to base_
    int made_ = 0;         // copies made in the folder
    std::vector<std::string> kept_;
    std::function<void(const std::vector<std::string>&)> on_kept_;
};

}  // namespace qev_scoreboard
