#include "qev_scoreboard/workdir/apply.hpp"

#include <memory>
#include <set>
#include <vector>

#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/core/lines.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/workdir/error_reports.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"
#include "qev_scoreboard/workdir/stop.hpp"

namespace qev_scoreboard {

namespace {

void list(InstallResult& result, InstallPolicy policy, Change change, const std::string& name) {
    if (policy != InstallPolicy::Init || change == Change::Replace)
        result.updated.push_back(name);
    else if (change == Change::Create)
        result.created.push_back(name);
    else
        ++result.skipped;
}

// The notebooks at once, as many as may be open together: their kept copies first, then their new
// content written beside them, flushed together, and only then renamed over them.
constexpr std::size_t BATCH = 128;

struct Pending {
    const PlannedFile* planned;
    PackageFile src;
    Change change = Change::Same;
    std::unique_ptr<PreparedCopy> copy;
};

void install_batch(const InstallPlan& plan, std::vector<Pending>& batch, KeptCopies& kept, InstallResult& result,
                   Fingerprints& installed, std::set<fs::path>& dirs) {
    for (Pending& p : batch) {
        stop_point(plan.base);
        const PlannedFile& f = *p.planned;
        p.src = open_package_file(f.source, &f.package, &f.incoming, f.package_looked_at);
        // A notebook the user changed is kept, on disk, before anything can replace it.
        const FoundFile found = kept.keep_if_changed(f.rel, p.src.fingerprint, &f.found);
        p.change = change_for(plan.policy, found.exists, found.fingerprint, p.src.fingerprint);
        installed[f.rel] = p.src.fingerprint;
    }
    for (Pending& p : batch) {
        stop_point(plan.base);
        if (p.change == Change::Same) {
            // Identical, but perhaps put there by a run cut short before it made them durable: the stamp
            // about to name a new version vouches for them too.
            if (plan.old_version != plan.version) {
                flush_file(plan.base / platform::path_from_utf8(p.planned->rel));
                dirs.insert(plan.base);
            }
            continue;
        }
        rewind_for_reading(p.src.file.get(), p.src.path);
        p.copy = std::make_unique<PreparedCopy>(p.src.file.get(), p.src.info, p.src.path,
                                                plan.base / platform::path_from_utf8(p.planned->rel));
    }
    stop_point(plan.base);
    for (Pending& p : batch)
        if (p.copy) p.copy->start_flush();
    for (Pending& p : batch)
        if (p.copy) p.copy->flush();
    for (Pending& p : batch) {
        if (p.copy) {
            p.copy->commit();
            dirs.insert(p.copy->directory());
        }
        list(result, plan.policy, p.change, p.planned->rel);
    }
    batch.clear();
}

// After a version change the engine's meta hashes follow the notebooks now installed, so it does not
// re-run every step only because its notebook was replaced; then the current version is recorded, last,
// so a run that fails or is interrupted before is done again by the next one.
void finish_init(InstallPlan& plan) {
    if (plan.stamp_error) std::rethrow_exception(plan.stamp_error);
    if (plan.refresh) update_meta_hashes(plan.base, installable_notebooks(plan.nb_dir), plan.seasons);
    write_version_stamp(plan.base, plan.version);
}

void finish_sync(InstallPlan& plan, InstallResult& result) {
    update_meta_hashes(plan.base, result.updated, plan.seasons);
    stop_point(plan.base);
    result.silinen = remove_error_reports(plan.base);
    stop_point(plan.base);
    // Recorded last, so a run that fails or is interrupted before here is done again by the next one.
    write_version_stamp(plan.base, plan.version);
}

}  // namespace

InstallResult apply_install(InstallPlan& plan, KeptCopies& kept) {
    InstallResult result;
    Fingerprints installed;
    // The data readme is init's alone: what the record says of it stays through an auto-sync.
    if (plan.policy == InstallPolicy::Sync)
        if (const auto readme = plan.record.files.find(layout::data_readme_rel()); readme != plan.record.files.end())
            installed.insert(*readme);
    // Every directory whose entries changed: flushed before the record and the stamp vouch for them.
    std::set<fs::path> dirs;
    std::vector<Pending> batch;
    for (const PlannedFile& f : plan.files) {
        if (!f.source.empty()) {
            batch.push_back(Pending{&f, {}, Change::Same, nullptr});
            if (batch.size() == BATCH) install_batch(plan, batch, kept, result, installed, dirs);
            continue;
        }
        stop_point(plan.base);
        kept.keep_if_changed(f.rel, f.incoming, &f.found);
        const fs::path readme = plan.base / platform::path_from_utf8(f.rel);
        write_file_atomic(readme, f.text);
        dirs.insert(readme.parent_path());
        installed[f.rel] = f.incoming;
        print_line("  [OK] external_data/VERI_KOPYALA.txt");
    }
    if (!batch.empty()) install_batch(plan, batch, kept, result, installed, dirs);
    for (const fs::path& dir : dirs) sync_directory(dir);
    if (plan.notebooks_error) std::rethrow_exception(plan.notebooks_error);
    stop_point(plan.base);
    write_install_record(plan.base, plan.record, installed);
    if (plan.policy == InstallPolicy::Sync)
        finish_sync(plan, result);
    else
        finish_init(plan);
    return result;
}

}  // namespace qev_scoreboard
