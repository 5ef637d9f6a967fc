#include "qev_scoreboard/workdir/kept_copies.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <utility>

#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/held_directory.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/platform/process.hpp"
#include "qev_scoreboard/platform/temporary_file.hpp"
#include "qev_scoreboard/workdir/facts.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"

namespace qev_scoreboard {

namespace {

// YYYYMMDD-HHMMSS, UTC.
std::string folder_name(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto secs = floor<seconds>(t);
    const auto day = floor<days>(secs);
    const year_month_day ymd{day};
    const hh_mm_ss hms{secs - day};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02u%02u-%02d%02d%02d", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count()));
    return buf;
}

}  // namespace

KeptCopies::KeptCopies(fs::path base, const InstallRecord& record, std::chrono::system_clock::time_point run_time)
    : base_(std::move(base)), record_(record), name_(folder_name(run_time)) {}

KeptCopies::~KeptCopies() {
    const platform::InterruptsDeferred deferred(platform::Defer::AllInterrupts);
    platform::untrack_directory(in_flight_);
    // A run that failed before its first copy was whole leaves no empty folder behind: removed while still
    // held, so that it cannot be another run's folder of the same name.
    if (made_ == 0)
        platform::remove_held_directory(held_, folder_);
    else
        held_.reset();
}

namespace {

// A name KeptCopies gives a folder: YYYYMMDD-HHMMSS, then maybe "-" and a number.
bool is_run_folder_name(std::string_view name) {
    const auto digits = [&](size_t from, size_t to) {
        return std::all_of(name.begin() + from, name.begin() + to, [](char c) { return c >= '0' && c <= '9'; });
    };
    if (name.size() < 15 || !digits(0, 8) || name[8] != '-' || !digits(9, 15)) return false;
    return name.size() == 15 || (name.size() > 16 && name[15] == '-' && digits(16, name.size()));
}

// The runs' folders under yedek/, by name (oldest first); none when there is no yedek/ or it cannot be
// listed: what cannot be listed waits for another run.
std::vector<std::string> run_folders(const fs::path& yedek) {
    std::vector<std::string> names;
    try {
        if (const auto entries = list_directory_if_present(yedek))
            for (const DirEntry& entry : *entries)
                if (entry.is_directory && is_run_folder_name(entry.name)) names.push_back(entry.name);
    } catch (const FileError&) {
        return {};
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

void remove_abandoned_folders(const fs::path& base) {
    // Runs killed while they kept a copy leave a folder that is empty or holds a temporary file alone, or
    // temporary files beside their copies. A live run holds its folder, and folders the user made are not
    // ours.
    const fs::path yedek = layout::kept_copies_dir(base);
    for (const std::string& name : run_folders(yedek))
        platform::remove_abandoned_directory(yedek / platform::path_from_utf8(name));
}

const fs::path& KeptCopies::folder() {
    if (!folder_.empty()) return folder_;
    const fs::path yedek = layout::kept_copies_dir(base_);
    // Made, never reused: another run, even one started in the same second, keeps its copies apart. Held
    // while this run fills it, so that no other run takes it for a killed run's.
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? name_ : name_ + "-" + std::to_string(n);
        const fs::path folder = yedek / name;
        // Made, held and in the interrupt's list at once: an interrupt in between would leave it empty.
        const platform::InterruptsDeferred deferred(platform::Defer::AllInterrupts);
        if (!make_new_directory(folder)) continue;
        // Another run may take it for a killed run's before we hold it (then it is gone, or that run's):
        // another name. Never removed here unless nobody holds it: by now it may be another run's.
        try {
            held_ = platform::hold_directory(folder, "dizin oluşturulamadı");
        } catch (const FileError&) {
            platform::remove_abandoned_directory(folder);
            throw;
        }
        if (!held_) continue;
        in_flight_ = platform::track_directory(held_.get(), folder);
        folder_ = folder;
        relative_ = fs::path(std::string(layout::KEPT_COPIES)) / name;
        break;
    }
    sync_directory(yedek);
    return folder_;
}

std::optional<std::string> KeptCopies::kept_before(const fs::path& name, std::uint64_t size,
                                                   const std::string& fingerprint) const {
    const fs::path yedek = layout::kept_copies_dir(base_);
    for (const std::string& folder : run_folders(yedek)) {
        const fs::path candidate = yedek / platform::path_from_utf8(folder) / name;
        platform::FileInfo info;
        // Only a copy as a run made it: a regular file, not a link someone put there.
        if (platform::describe(candidate, platform::Follow::NoLinks, info) != 0 ||
            info.kind != platform::FileKind::Regular || info.size != size)
            continue;
        try {
            if (_file_hash(candidate) == fingerprint)
                return platform::path_to_utf8(fs::path(std::string(layout::KEPT_COPIES)) /
                                              platform::path_from_utf8(folder) / name);
        } catch (const FileError&) {
            // Unreadable: not a copy we can vouch for; another is made.
        }
    }
    return std::nullopt;
}

FoundFile KeptCopies::keep_if_changed(const std::string& rel, const std::string& incoming, const FoundFile* seen) {
    const fs::path rel_path = platform::path_from_utf8(rel);
    const fs::path installed = base_ / rel_path;
    FoundFile found;
    const Fd file = open_to_look(installed, found);
    if (!found.readable) return found;
    const platform::FileInfo& as_found = found.facts;
    fingerprint_found(file.get(), installed, found, seen);
    if (!is_users_own(found, rel, incoming, record_)) return found;
    // Kept under its own name: the data readme beside the notebooks, which never share its name.
    const fs::path name = rel_path.filename();
    const fs::path yedek = layout::kept_copies_dir(base_);
    fs::path copy = yedek / name_ / name;
    try {
        const bool new_yedek = !leads_to_directory(yedek);
        make_directories(yedek);
        if (new_yedek) sync_directory(base_);
        // Runs at once take turns here, so that bytes kept by one (or by an earlier run that failed) are
        // named again by the others rather than kept twice.
        const platform::File turn = platform::lock_directory(yedek, "kilitlenemedi");
        if (const auto earlier = kept_before(name, as_found.size, found.fingerprint)) {
            tell_kept(*earlier);
            return found;
        }
        copy = folder() / name;
        rewind_for_reading(file.get(), installed);
        // From the copy's arrival to its place in what is told, an interrupt would leave it unnamed.
        const platform::InterruptsDeferred deferred(platform::Defer::AllInterrupts);
        // The same bytes that were fingerprinted, whatever another run has put at the name since.
        copy_open_file_atomic(file.get(), as_found, installed, copy);
        ++made_;
        sync_directory(folder_);
        tell_kept(platform::path_to_utf8(relative_ / name));
    } catch (const FileError& e) {
        throw FileError("yedeklenemedi", copy, e.code().value(), e.reason());
    }
    return found;
}

namespace {

// Whether something stands at `folder` that remove_abandoned_folders leaves: anything but a directory
// holding nothing besides temporary files. A folder a live run holds is not told apart from one a killed
// run left: only a run in this very second can hold one that is still empty.
bool left_standing(const fs::path& folder) {
    platform::FileInfo info;
    if (platform::describe(folder, platform::Follow::NoLinks, info) != 0) return false;
    if (info.kind != platform::FileKind::Directory) return true;
    try {
        for (const DirEntry& entry : list_directory(folder))
            if (!platform::is_temporary_name(entry.name)) return true;
    } catch (const FileError&) {
        return true;
    }
    return false;
}

}  // namespace

void KeptCopies::tell_would_keep(const std::string& rel, const FoundFile& found) {
    const fs::path name = platform::path_from_utf8(rel).filename();
    if (const auto earlier = kept_before(name, found.facts.size, found.fingerprint)) {
        tell_kept(*earlier);
        return;
    }
    if (relative_.empty()) {
        // The name folder() would take: the first that nothing stands at once the run's clean-up has
        // removed the folders killed runs left empty.
        const fs::path yedek = layout::kept_copies_dir(base_);
        for (int n = 1;; ++n) {
            const std::string folder = n == 1 ? name_ : name_ + "-" + std::to_string(n);
            if (!left_standing(yedek / folder)) {
                relative_ = fs::path(std::string(layout::KEPT_COPIES)) / folder;
                break;
            }
        }
    }
    tell_kept(platform::path_to_utf8(relative_ / name));
}

void KeptCopies::tell_kept(std::string kept) {
    kept_.push_back(std::move(kept));
    if (on_kept_) on_kept_(kept_);
}

}  // namespace qev_scoreboard
