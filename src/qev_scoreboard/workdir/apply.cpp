#include "qev_scoreboard/workdir/apply.hpp"

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/core/lines.hpp"
#include "qev_scoreboard/core/sha256.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/platform/temporary_file.hpp"
#include "qev_scoreboard/workdir/error_reports.hpp"
#include "qev_scoreboard/workdir/facts.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"
#include "qev_scoreboard/workdir/stop.hpp"

namespace qev_scoreboard {

namespace {

constexpr std::string_view README_LINE = "  [OK] external_data/VERI_KOPYALA.txt";

void list(InstallResult& result, InstallPolicy policy, Change change, const std::string& name) {
    if (policy != InstallPolicy::Init || change == Change::Replace)
        result.updated.push_back(name);
    else if (change == Change::Create)
        result.created.push_back(name);
    else
        ++result.skipped;
}

// What a run does to one file: kept first where the user's own, then its new content written beside it
// and flushed with the others, and only then renamed over it.
struct Pending {
    PlannedFile f;  // the plan's, decided here where it had to wait for the package's fingerprint
    PackageFile src;
    std::unique_ptr<PreparedCopy> copy;
    platform::FileInfo placed;  // the file installed, once in place
};

// The notebooks at once, as many as may be open together.
constexpr std::size_t BATCH = 128;

struct Run {
    InstallPlan& plan;
    KeptCopies& kept;
    InstallResult result;
    RecordedFiles installed;
    std::set<fs::path> dirs;  // whose entries changed: flushed before the record and the stamp vouch for them
};

fs::path place_of(const Run& run, const PlannedFile& f) { return run.plan.base / platform::path_from_utf8(f.rel); }

// The package file open, and what it brings: its copy, fingerprinted on the way where the plan could not
// know it, and then decided.
void prepare(Run& run, Pending& p) {
    PlannedFile& f = p.f;
    p.src = open_package_file(f.source, f.incoming_known ? &f.package : nullptr,
                              f.incoming_known ? &f.incoming : nullptr, f.package_looked_at, false);
    // Trusted by the record's facts, which it still has: the record's fingerprint holds.
    if (p.src.fingerprint.empty() && f.package_by_record && facts_of(p.src.info) == facts_of(f.package))
        p.src.fingerprint = f.incoming;
    // What the plan read of the package is decided on, and checked while the file is copied; what nobody
    // read yet is learnt while it is copied, and decided then.
    const bool expected = p.src.fingerprint.empty() && f.incoming_known;
    if (!p.src.fingerprint.empty() || expected) {
        // A notebook the user changed is kept, on disk, before anything can replace it; what the plan saw
        // of it holds while its facts do.
        f.found = run.kept.keep_if_changed(f.rel, f.incoming, &f.found);
        decide(f, run.plan.policy, run.plan.record);
        if (f.change == Change::Same) return;
    }
    std::string seen;
    PreparedCopy::Observer observe;
    Sha256 sha(f.source);
    if (p.src.fingerprint.empty()) observe = [&](std::string_view piece) { sha.update(piece.data(), piece.size()); };
    rewind_for_reading(p.src.file.get(), p.src.path);
    p.copy = std::make_unique<PreparedCopy>(p.src.file.get(), p.src.info, p.src.path, place_of(run, f), observe);
    if (!observe) return;
    p.src.fingerprint = fingerprint_of_digest(sha.finish());
    // Changed since the plan read it (a package upgraded meanwhile): what was decided no longer holds.
    if (expected && p.src.fingerprint != f.incoming)
        throw FileError("kopyalanamadı", f.source, EAGAIN, "paket dosyası kopyalanırken değişti");
    if (expected) return;
    f.incoming = p.src.fingerprint;
    f.incoming_known = true;
    f.found = run.kept.keep_if_changed(f.rel, f.incoming, &f.found);
    decide(f, run.plan.policy, run.plan.record);
    if (f.change == Change::Same) p.copy.reset();
}

void install_batch(Run& run, std::vector<Pending>& batch) {
    for (Pending& p : batch) {
        stop_point(run.plan.base);
        prepare(run, p);
        // On its way to the disk while the next ones are copied.
        if (p.copy) p.copy->start_flush();
        // Identical, but perhaps put there by a run cut short before it made it durable: the stamp about
        // to name a new version vouches for it too.
        if (p.f.change == Change::Same && run.plan.old_version != run.plan.version) {
            flush_file(place_of(run, p.f));
            run.dirs.insert(place_of(run, p.f).parent_path());
        }
    }
    stop_point(run.plan.base);
    for (Pending& p : batch)
        if (p.copy) p.copy->flush();
    for (Pending& p : batch) {
        if (p.copy) {
            p.copy->commit(&p.placed);
            run.dirs.insert(p.copy->directory());
        } else {
            p.placed = p.f.found.facts;
        }
        list(run.result, run.plan.policy, p.f.change, p.f.rel);
        // What this run wrote is its own to vouch for; what it found, only where it had settled.
        const std::optional<FileFacts> installed = p.copy || p.f.found.by_record
                                                       ? std::optional(facts_of(p.placed))
                                                       : settled_facts(p.placed, p.f.found.looked_at);
        const std::optional<FileFacts> package = p.f.package_by_record
                                                     ? std::optional(facts_of(p.src.info))
                                                     : settled_facts(p.src.info, p.f.package_looked_at);
        run.installed[p.f.rel] = {p.f.incoming, installed, package};
    }
    batch.clear();
}

// The data readme, alone and first: its line comes before the notebooks are looked at.
void install_readme(Run& run, PlannedFile f) {
    stop_point(run.plan.base);
    const fs::path place = place_of(run, f);
    f.found = run.kept.keep_if_changed(f.rel, f.incoming, &f.found);
    decide(f, run.plan.policy, run.plan.record);
    platform::FileInfo placed = f.found.facts;
    if (f.change != Change::Same) {
        if (f.text.empty()) read_readme(f);
        write_file_atomic(place, f.text, &placed);
        run.dirs.insert(place.parent_path());
    }
    const std::optional<FileFacts> installed = f.change != Change::Same || f.found.by_record
                                                   ? std::optional(facts_of(placed))
                                                   : settled_facts(placed, f.found.looked_at);
    const std::optional<FileFacts> package =
        f.package_by_record ? std::optional(facts_of(f.package)) : settled_facts(f.package, f.package_looked_at);
    run.installed[f.rel] = {f.incoming, installed, package};
    print_line(README_LINE);
}

// The fingerprints of the notebooks now installed, as the meta refresh needs them.
std::map<std::string, std::string> fingerprints(const RecordedFiles& installed) {
    std::map<std::string, std::string> out;
    for (const auto& [rel, file] : installed) out[rel] = file.fingerprint;
    return out;
}

// After a version change the engine's meta hashes follow the notebooks now installed, so it does not
// re-run every step only because its notebook was replaced; then the current version is recorded, last,
// so a run that fails or is interrupted before is done again by the next one.
void finish_init(Run& run) {
    InstallPlan& plan = run.plan;
    if (plan.stamp_error) std::rethrow_exception(plan.stamp_error);
    if (plan.refresh) {
        const auto known = fingerprints(run.installed);
        update_meta_hashes(plan.base, installable_notebooks(plan.nb_dir), plan.seasons, &known);
    }
    if (!plan.stamp_exact || plan.old_version != plan.version) write_version_stamp(plan.base, plan.version);
}

void finish_sync(Run& run) {
    const auto known = fingerprints(run.installed);
    update_meta_hashes(run.plan.base, run.result.updated, run.plan.seasons, &known);
    stop_point(run.plan.base);
    run.result.silinen = remove_error_reports(run.plan.base);
    stop_point(run.plan.base);
    // Recorded last, so a run that fails or is interrupted before here is done again by the next one.
    write_version_stamp(run.plan.base, run.plan.version);
}

}  // namespace

InstallResult apply_install(InstallPlan& plan, KeptCopies& kept) {
    const platform::LeftOversClearedOnce cleared_once;
    Run run{plan, kept, {}, {}, {}};
    // The data readme is init's alone: what the record says of it stays through an auto-sync.
    if (plan.policy == InstallPolicy::Sync)
        if (const auto readme = plan.record.files.find(layout::data_readme_rel()); readme != plan.record.files.end())
            run.installed.insert(*readme);
    std::vector<Pending> batch;
    for (const PlannedFile& f : plan.files) {
        if (f.readme) {
            install_readme(run, f);
            continue;
        }
        batch.push_back(Pending{f, {}, nullptr, {}});
        if (batch.size() == BATCH) install_batch(run, batch);
    }
    if (!batch.empty()) install_batch(run, batch);
    for (const fs::path& dir : run.dirs) sync_directory(dir);
    if (plan.notebooks_error) std::rethrow_exception(plan.notebooks_error);
    stop_point(plan.base);
    write_install_record(plan.base, plan.record, run.installed);
    if (plan.policy == InstallPolicy::Sync)
        finish_sync(run);
    else
        finish_init(run);
    return run.result;
}

InstallResult preview_install(InstallPlan& plan, KeptCopies& kept) {
    InstallResult result;
    std::map<std::string, std::string> installed;  // the fingerprints the run would record
    for (const PlannedFile& f : plan.files) {
        if (f.keep) kept.tell_would_keep(f.rel, f.found);
        installed[f.rel] = f.incoming;
        if (f.readme)
            print_line(README_LINE);
        else
            list(result, plan.policy, f.change, f.rel);
    }
    if (plan.notebooks_error) std::rethrow_exception(plan.notebooks_error);
    if (plan.stamp_error) std::rethrow_exception(plan.stamp_error);
    if (plan.refresh) update_meta_hashes(plan.base, installable_notebooks(plan.nb_dir), plan.seasons, &installed, true);
    return result;
}

}  // namespace qev_scoreboard
