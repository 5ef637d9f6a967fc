#pragma once
// What a run that installs the package's files into a work directory will do, decided before it does
// any of it: from the package, the directory and its record of installed files, with nothing written.
// init, init --force and the auto-sync differ in their policy, not in their plan or their apply.

#include <chrono>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/workdir/install_record.hpp"
#include "qev_scoreboard/workdir/seasons.hpp"

namespace qev_scoreboard {

namespace fs = std::filesystem;

enum class InstallPolicy {
    Init,   // the data readme always; a notebook that is missing or differs from the package's
    Force,  // the data readme and every notebook
    Sync,   // every notebook; the data readme is init's alone
};

// What will stand at a file's place, and how the summary lists it.
enum class Change { Create, Replace, Same };

// What a run found at a file's place when it looked.
struct FoundFile {
    bool exists = false;       // something stands there
    bool readable = false;     // a regular file that could be fingerprinted
    std::string fingerprint;   // then: its fingerprint
    platform::FileInfo facts;  // then: what it was when fingerprinted
    std::chrono::system_clock::time_point looked_at;
    // The fingerprint is the record's, the file's facts being those it recorded: it holds for as long as
    // they do, with no clock tick to fear.
    bool by_record = false;
};

struct PlannedFile {
    std::string rel;              // relative to the work directory, "/" between names
    fs::path source;              // the package file (for the data readme, the package's readme)
    bool readme = false;          // the data readme, installed as text: its new text is `text`
    std::string text;             // the data readme's new text, when it was read
    std::string incoming;         // the fingerprint of what will be installed, when known:
    bool incoming_known = false;  // else it is learnt while the package file is copied
    platform::FileInfo package;   // the package file's facts when it was looked at, at:
    std::chrono::system_clock::time_point package_looked_at;
    bool package_by_record = false;  // the incoming fingerprint is the record's, by the package's facts
    FoundFile found;
    Change change = Change::Create;
    bool keep = false;  // what stands there is the user's own: kept under yedek/ before it is replaced
};

struct InstallPlan {
    InstallPolicy policy = InstallPolicy::Init;
    fs::path base;
    fs::path nb_dir;
    std::string version;
    std::vector<PlannedFile> files;      // the data readme first (not for Sync), then the notebooks in order
    std::exception_ptr notebooks_error;  // the package's notebooks could not be listed or read: told in turn
    InstallRecord record;                // as the directory holds it
    std::string old_version;             // the version the stamp names
    bool stamp_exact = false;            // the stamp holds that version and nothing else
    std::exception_ptr stamp_error;      // the stamp could not be read: told in turn
    bool refresh = false;                // the step meta files are refreshed after the notebooks
    std::optional<Seasons> seasons;      // listed once for the whole run
};

// Whether a file found so (`exists`, with `fingerprint` when it is a regular file) changes under `policy`
// when `incoming` is installed in its place.
Change change_for(InstallPolicy policy, bool exists, const std::string& fingerprint, const std::string& incoming);

// Whether what was found is the user's own work: a regular file whose fingerprint differs from what
// replaces it and from what the record says was installed there (anything, without a record).
bool is_users_own(const FoundFile& found, const std::string& rel, const std::string& incoming,
                  const InstallRecord& record);

// Looks at a file's place: nothing, something that is not a regular file, or a regular file with its
// fingerprint; `seen`, when given, is what a look before found, whose fingerprint holds while the file's
// facts are unchanged. Throws FileError when it cannot be looked at or read for another reason.
FoundFile look_at(const fs::path& path, const FoundFile* seen = nullptr);

// The first half of look_at: `found` says what stands there, without its fingerprint; the file, open
// before its facts were taken, is returned when it is a regular file (else an empty one).
platform::File open_to_look(const fs::path& path, FoundFile& found);
// The second half: the fingerprint of the regular file found, open as `file`.
void fingerprint_found(platform::NativeHandle file, const fs::path& path, FoundFile& found, const FoundFile* seen);

// Reads the package's files (the notebooks in `nb_dir` and the data readme), what stands at their places
// in `base`, the record and the stamp, and says what a run by `policy` for `version` will do. A file whose
// facts are those the record gives is trusted by them, unread. Refuses, as check_destinations does, a
// place that must not be written through. A failure to read the record or the package's data readme is
// thrown; the package's notebooks and the stamp are kept as errors for the run to meet where it reaches
// them. Writes nothing. Unless `decide_all`, a package file that must be fingerprinted and will be
// copied anyway is left to be fingerprinted while it is copied: the plan's decisions about it (whether
// what it replaces is kept) then wait for that (incoming_known is false).
InstallPlan plan_install(const fs::path& base, const fs::path& nb_dir, InstallPolicy policy, const std::string& version,
                         bool decide_all = false);

// Decides `f` once its incoming fingerprint is known: its change under `policy`, and whether what stands
// there is kept first.
void decide(PlannedFile& f, InstallPolicy policy, const InstallRecord& record);

// The data readme's text as installed, read from the package (`f.source`), with its fingerprint.
void read_readme(PlannedFile& f);

// The names of the notebooks the plan installs, in order.
std::vector<std::string> planned_notebooks(const InstallPlan& plan);

}  // namespace qev_scoreboard
