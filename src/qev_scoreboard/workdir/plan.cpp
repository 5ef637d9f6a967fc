#include "qev_scoreboard/workdir/plan.hpp"

#include <cerrno>
#include <utility>

#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/services/paths.hpp"
#include "qev_scoreboard/workdir/destinations.hpp"
#include "qev_scoreboard/workdir/facts.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"

namespace qev_scoreboard {

namespace {

// Text-mode line endings: CR LF and lone CR become LF.
std::string to_lf(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out.push_back(text[i]);
            continue;
        }
        out.push_back('\n');
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    return out;
}

// A directory, FIFO or device in a file's place holds no work of the user's to keep; replacing it fails
// on its own terms.
bool not_a_file(const FileError& e) {
    const int err = e.code().value();
    return err == EISDIR || err == EINVAL;
}

std::vector<fs::path> destinations_of(const InstallPlan& plan, const std::vector<std::string>& names) {
    std::vector<fs::path> out;
    if (plan.policy != InstallPolicy::Sync)
        out.push_back(plan.base / platform::path_from_utf8(layout::data_readme_rel()));
    for (const std::string& name : names) out.push_back(plan.base / platform::path_from_utf8(name));
    out.push_back(layout::install_record_path(plan.base));
    out.push_back(layout::version_stamp_path(plan.base));
    return out;
}

// What stands at `path`, trusted by the record's facts where they hold, else looked at and fingerprinted.
FoundFile found_at(const fs::path& path, const RecordedFile* recorded, const InstallRecord& record) {
    platform::FileInfo now;
    if (recorded != nullptr && platform::describe(path, platform::Follow::Links, now) == 0 &&
        unchanged_since_record(recorded->installed, record.written, now)) {
        FoundFile found;
        found.exists = found.readable = found.by_record = true;
        found.fingerprint = recorded->fingerprint;
        found.facts = now;
        found.looked_at = std::chrono::system_clock::now();
        return found;
    }
    return look_at(path);
}

const RecordedFile* recorded_for(const InstallPlan& plan, const std::string& rel) {
    const auto it = plan.record.files.find(rel);
    return plan.record.found && it != plan.record.files.end() ? &it->second : nullptr;
}

// The package file's fingerprint, from the record where its facts are those recorded; else read now when
// `read_now`, or left to be learnt while the file is copied.
void plan_incoming(PlannedFile& f, const RecordedFile* recorded, const InstallRecord& record, bool read_now) {
    f.package_looked_at = std::chrono::system_clock::now();
    platform::FileInfo now;
    if (recorded != nullptr && platform::describe(f.source, platform::Follow::Links, now) == 0 &&
        unchanged_since_record(recorded->package, record.written, now)) {
        f.incoming = recorded->fingerprint;
        f.incoming_known = f.package_by_record = true;
        f.package = now;
        return;
    }
    if (f.readme) {
        read_readme(f);
        return;
    }
    const PackageFile package = open_package_file(f.source, nullptr, nullptr, {}, read_now);
    f.package = package.info;
    if (read_now) {
        f.incoming = package.fingerprint;
        f.incoming_known = true;
    }
}

PlannedFile plan_file(const InstallPlan& plan, std::string rel, fs::path source, bool readme, bool decide_all) {
    PlannedFile f;
    f.rel = std::move(rel);
    f.source = std::move(source);
    f.readme = readme;
    const RecordedFile* recorded = recorded_for(plan, f.rel);
    f.found = found_at(plan.base / platform::path_from_utf8(f.rel), recorded, plan.record);
    // init compares what stands there with the package's: unless nothing stands there, the package file
    // must be known before anything is copied.
    const bool read_now = decide_all || (plan.policy == InstallPolicy::Init && f.found.exists);
    plan_incoming(f, recorded, plan.record, read_now);
    if (f.incoming_known) {
        decide(f, plan.policy, plan.record);
    } else {
        // Decided once the copy has told the fingerprint.
        f.change = f.found.exists ? Change::Replace : Change::Create;
    }
    return f;
}

}  // namespace

void decide(PlannedFile& f, InstallPolicy policy, const InstallRecord& record) {
    // The data readme is written on every init, --force or not, but where it holds what would be written
    // already: a run with nothing to change writes nothing.
    f.change = change_for(f.readme ? InstallPolicy::Init : policy, f.found.exists, f.found.fingerprint, f.incoming);
    f.keep = is_users_own(f.found, f.rel, f.incoming, record);
}

void read_readme(PlannedFile& f) {
    // Its facts before its bytes: a change made while it is read then shows in the facts the record keeps.
    platform::FileInfo before;
    const bool described = platform::describe(f.source, platform::Follow::Links, before) == 0;
    f.text = to_lf(read_utf8_file(f.source));
    f.incoming = fingerprint_of_bytes(f.text, f.source);
    f.incoming_known = true;
    f.package = described ? before : platform::FileInfo{};
}

Change change_for(InstallPolicy policy, bool exists, const std::string& fingerprint, const std::string& incoming) {
    if (!exists) return Change::Create;
    if (policy != InstallPolicy::Init || fingerprint != incoming) return Change::Replace;
    return Change::Same;
}

bool is_users_own(const FoundFile& found, const std::string& rel, const std::string& incoming,
                  const InstallRecord& record) {
    if (!found.readable || found.fingerprint == incoming) return false;  // replacing it loses nothing
    if (!record.found) return true;
    const auto recorded = record.files.find(rel);
    return recorded == record.files.end() || recorded->second.fingerprint != found.fingerprint;
}

Fd open_to_look(const fs::path& path, FoundFile& found) {
    found = FoundFile{};
    found.looked_at = std::chrono::system_clock::now();
    Fd file;
    try {
        file = open_regular_for_reading(path);
    } catch (const FileError& e) {
        if (means_absent(e.code().value())) return {};
        if (not_a_file(e)) {
            found.exists = true;
            return {};
        }
        throw;
    }
    found.exists = found.readable = true;
    found.facts = platform::info(file.get(), path);
    return file;
}

void fingerprint_found(platform::NativeHandle file, const fs::path& path, FoundFile& found, const FoundFile* seen) {
    // The fingerprint already taken of it holds while nothing about the file has changed since.
    const bool unchanged = seen != nullptr && seen->readable &&
                           (seen->by_record ? facts_of(seen->facts) == facts_of(found.facts)
                                            : unchanged_since(seen->facts, seen->looked_at, found.facts));
    found.by_record = unchanged && seen->by_record;
    if (unchanged)
        found.fingerprint = seen->fingerprint;
    else
        found.fingerprint = fingerprint_of_open_file(file, path);
}

FoundFile look_at(const fs::path& path, const FoundFile* seen) {
    FoundFile found;
    const Fd file = open_to_look(path, found);
    if (found.readable) fingerprint_found(file.get(), path, found, seen);
    return found;
}

InstallPlan plan_install(const fs::path& base, const fs::path& nb_dir, InstallPolicy policy, const std::string& version,
                         bool decide_all) {
    InstallPlan plan;
    plan.policy = policy;
    plan.base = base;
    plan.nb_dir = nb_dir;
    plan.version = version;

    std::vector<std::string> names;
    try {
        names = installable_notebooks(nb_dir);
    } catch (const FileError&) {
        plan.notebooks_error = std::current_exception();
    }
    if (policy != InstallPolicy::Sync) {
        try {
            plan.old_version = read_version_stamp(base, &plan.stamp_exact);
        } catch (const FileError&) {
            plan.stamp_error = std::current_exception();
        }
    }
    plan.refresh = policy == InstallPolicy::Sync || (!plan.old_version.empty() && plan.old_version != version);

    // Everything the run will write through, judged before any of it is written.
    std::vector<fs::path> destinations = destinations_of(plan, names);
    if (plan.refresh)
        for (fs::path& meta : meta_files_of(base, names, plan.seasons)) destinations.push_back(std::move(meta));
    check_destinations(destinations);

    plan.record = read_install_record(base);
    if (policy != InstallPolicy::Sync)
        plan.files.push_back(plan_file(plan, layout::data_readme_rel(), get_data_readme(), true, decide_all));
    for (const std::string& name : names) {
        try {
            plan.files.push_back(plan_file(plan, name, nb_dir / platform::path_from_utf8(name), false, decide_all));
        } catch (const FileError&) {
            // Told when the run reaches this notebook, after those before it.
            plan.notebooks_error = std::current_exception();
            break;
        }
    }
    return plan;
}

std::vector<std::string> planned_notebooks(const InstallPlan& plan) {
    std::vector<std::string> names;
    for (const PlannedFile& f : plan.files)
        if (!f.readme) names.push_back(f.rel);
    return names;
}

}  // namespace qev_scoreboard
