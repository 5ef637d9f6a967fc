#include "qev_scoreboard/workdir/apply.hpp"

#include "qev_scoreboard/core/atomic_file.hpp"
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

void install_readme(const InstallPlan& plan, const PlannedFile& f, KeptCopies& kept) {
    kept.keep_if_changed(f.rel, f.incoming, &f.found);
    write_file_atomic(plan.base / platform::path_from_utf8(f.rel), f.text);
    print_line("  [OK] external_data/VERI_KOPYALA.txt");
}

// The notebook as the plan saw it, or as it is now if it changed meanwhile. Returns what was installed.
std::string install_notebook(const InstallPlan& plan, const PlannedFile& f, KeptCopies& kept, InstallResult& result) {
    const PackageFile src = open_package_file(f.source, &f.package, &f.incoming, f.package_looked_at);
    // A notebook the user changed is kept before anything can replace it.
    const FoundFile found = kept.keep_if_changed(f.rel, src.fingerprint, &f.found);
    stop_point(plan.base);
    const Change change = change_for(plan.policy, found.exists, found.fingerprint, src.fingerprint);
    // Flushed once, for all of them, before the stamp names their version.
    if (change != Change::Same) install_package_file(src, plan.base / platform::path_from_utf8(f.rel), Flush::ByCaller);
    list(result, plan.policy, change, f.rel);
    return src.fingerprint;
}

// After a version change the engine's meta hashes follow the notebooks now installed, so it does not
// re-run every step only because its notebook was replaced; then the current version is recorded, last,
// so a run that fails or is interrupted before is done again by the next one.
void finish_init(InstallPlan& plan, const InstallResult& result) {
    if (plan.stamp_error) std::rethrow_exception(plan.stamp_error);
    if (plan.refresh) update_meta_hashes(plan.base, installable_notebooks(plan.nb_dir), plan.seasons);
    // The stamp names the notebooks' version: they, the record and the meta files' renames reach the disk
    // first, all in one flush. Notebooks an interrupted run copied count too, though this run found them
    // identical.
    if (!result.created.empty() || !result.updated.empty() || plan.old_version != plan.version)
        sync_filesystem(plan.base);
    write_version_stamp(plan.base, plan.version);
}

void finish_sync(InstallPlan& plan, InstallResult& result) {
    update_meta_hashes(plan.base, result.updated, plan.seasons);
    stop_point(plan.base);
    result.silinen = remove_error_reports(plan.base);
    // The stamp names what this run did: the notebooks, the record, the meta files' renames and the
    // deletions reach the disk first, all in one flush.
    sync_filesystem(plan.base);
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
    for (const PlannedFile& f : plan.files) {
        stop_point(plan.base);
        if (f.source.empty()) {
            install_readme(plan, f, kept);
            installed[f.rel] = f.incoming;
        } else {
            installed[f.rel] = install_notebook(plan, f, kept, result);
        }
    }
    if (plan.notebooks_error) std::rethrow_exception(plan.notebooks_error);
    stop_point(plan.base);
    write_install_record(plan.base, plan.record, installed);
    if (plan.policy == InstallPolicy::Sync)
        finish_sync(plan, result);
    else
        finish_init(plan, result);
    return result;
}

}  // namespace qev_scoreboard
