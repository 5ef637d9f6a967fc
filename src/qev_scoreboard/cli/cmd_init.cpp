// `init`: scaffolds a work directory, or brings an existing one up to date with the installed package:
// directory tree, data readme copy, notebooks (by fingerprint, or all with --force), version stamp and
// the engine's meta hashes after a version change, then the summary and the closing banner.

#include <optional>
#include <string>
#include <vector>

#include "qev_scoreboard/cli/args.hpp"
#include "qev_scoreboard/cli/handlers.hpp"
#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/core/lines.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/console.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/platform/process.hpp"
#include "qev_scoreboard/services/paths.hpp"
#include "qev_scoreboard/services/services.hpp"
#include "qev_scoreboard/workdir/destinations.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/kept_copies.hpp"
#include "qev_scoreboard/workdir/left_overs.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/paths.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"

namespace qev_scoreboard {

namespace {

constexpr std::string_view SUMMARY_RULE = "==================================================";

// Closing banner, printed around the text of base/external_data.
constexpr std::string_view BANNER_HEAD =
    "\n============================================================\n"
    "  KURULUM TAMAM\n"
    "============================================================\n"
    "\n"
    "  Ham veriyi external_data altına kopyalayın:\n"
    "\n"
    "    ";
constexpr std::string_view BANNER_TAIL =
    "/\n"
    "    ├── kik_data_ham_csv/        ← KIK izleme CSV\n"
    "    ├── kredi_db/                ← Kredi risk parquet\n"
    "    ├── yis_tahmin_data/         ← YIS tahmin CSV\n"
    "    ├── eus_tahmin_data/         ← EUS tahmin CSV\n"
    "    ├── eus_hedef_muta/          ← EUS hedef MUTA\n"
    "    ├── eus_sql_kapsam_muta/     ← EUS kapsam MUTA\n"
    "    ├── statik_db/               ← Statik bilgiler TXT\n"
    "    ├── yis_train_data/          ← YIS training parquet\n"
    "    ├── rkd_donem_data/          ← RKD kriter parquet\n"
    "    └── memzuc_data_donem/       ← Memzuc parquet\n"
    "\n"
    "  Veri kopyalandıktan sonra qev_pipeline.ipynb ile çalıştırın:\n"
    "    qev_pipeline.ipynb              # Orchestrator (Motor class)\n"
    "    nb_01a_ingest_ddl.ipynb         # Her ingest kaynağı ayrı\n"
    "    nb_01b_ingest_kik.ipynb\n"
    "    ...\n"
    "    nb_02_transform.ipynb           # Bronze → Silver\n"
    "    nb_03_marts.ipynb               # Scoreboard + Trending + HTML\n"
    "    nb_04_ml.ipynb                  # ML train + predict\n"
    "    nb_05a_backtest_eus.ipynb       # EUS backtest\n"
    "    nb_05b_backtest_yis.ipynb       # YIS backtest\n"
    "    nb_05c_backtest_ml.ipynb        # ML backtest\n";

struct Installed {
    std::vector<std::string> created;
    std::vector<std::string> updated;
    long skipped = 0;
};

void create_tree(const fs::path& base) {
    for (const std::string& rel : layout::tree_dirs()) {
        make_directories(base / platform::path_from_utf8(rel));
        print_line("  [OK] " + rel + "/");
    }
}

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

// The data readme, rewritten on every run; a note the user added to the copy is kept first.
void copy_readme(const fs::path& base, KeptCopies& kept, Fingerprints& installed) {
    const fs::path src = get_data_readme();
    const std::string text = to_lf(read_utf8_file(src));
    const std::string rel = layout::data_readme_rel();
    const std::string fingerprint = fingerprint_of_bytes(text, src);
    kept.keep_if_changed(rel, fingerprint);
    write_file_atomic(base / platform::path_from_utf8(rel), text);
    installed[rel] = fingerprint;
    print_line("  [OK] external_data/VERI_KOPYALA.txt");
}

Installed install_notebooks(const fs::path& base, const fs::path& nb_dir, bool force, KeptCopies& kept,
                            Fingerprints& installed) {
    Installed result;
    for (const std::string& name : installable_notebooks(nb_dir)) {
        const PackageFile src = open_package_file(nb_dir / platform::path_from_utf8(name));
        const fs::path dst = base / platform::path_from_utf8(name);
        // A notebook the user changed is kept before anything can replace it.
        const InstalledFile found = kept.keep_if_changed(name, src.fingerprint);
        installed[name] = src.fingerprint;
        // Flushed once, for all of them, before the stamp names their version.
        if (force) {
            install_package_file(src, dst, Flush::ByCaller);
            result.updated.push_back(name);
        } else if (!found.exists) {
            install_package_file(src, dst, Flush::ByCaller);
            result.created.push_back(name);
        } else if (found.fingerprint != src.fingerprint) {
            install_package_file(src, dst, Flush::ByCaller);
            result.updated.push_back(name);
        } else {
            ++result.skipped;
        }
    }
    return result;
}

// After a version change the engine's meta hashes follow the notebooks now installed, so it does not
// re-run every step only because its notebook was replaced; then the current version is recorded, last,
// so a run that fails or is interrupted before is done again by the next one.
void update_stamp(const fs::path& base, const fs::path& nb_dir, const std::string& version, bool copied,
                  std::optional<Seasons>& seasons) {
    const std::string old_version = read_version_stamp(base);
    if (!old_version.empty() && old_version != version)
        update_meta_hashes(base, installable_notebooks(nb_dir), seasons);
    // The stamp names the notebooks' version: they, the record and the meta files' renames reach the disk
    // first, all in one flush. Notebooks an interrupted run copied count too, though this run found them
    // identical.
    if (copied || old_version != version) sync_filesystem(base);
    write_version_stamp(base, version);
}

// The kept copies as the summary lists them: printed there, and before the error or on an interrupt when
// the run cannot reach its summary.
std::vector<std::string> kept_lines(const std::vector<std::string>& kept) {
    std::vector<std::string> lines;
    if (kept.empty()) return lines;
    lines.push_back("  YEDEKLENDİ  : " + std::to_string(kept.size()) + " dosya");
    for (const auto& copy : kept) lines.push_back("    ⤷ " + printable(copy));
    return lines;
}

void print_summary(const Installed& inst, const std::vector<std::string>& kept) {
    print_line("\n" + std::string(SUMMARY_RULE));
    print_line("  AYNI         : " + std::to_string(inst.skipped) + " dosya");
    if (!inst.created.empty()) {
        print_line("  YENİ         : " + std::to_string(inst.created.size()) + " dosya");
        for (const auto& name : inst.created) print_line("    + " + printable(name));
    }
    if (!inst.updated.empty()) {
        print_line("  GÜNCELLENDİ : " + std::to_string(inst.updated.size()) + " dosya");
        for (const auto& name : inst.updated) print_line("    ↻ " + printable(name));
    }
    for (const std::string& line : kept_lines(kept)) print_line(line);
    print_line(SUMMARY_RULE);
    if (!inst.created.empty() || !inst.updated.empty()) {
        print_line("\n⚠ VS Code'da açık notebook'lar varsa:");
        print_line("  Ctrl+Shift+P → 'Revert File' ile yenileyin.");
        print_line("  Veya tüm notebook'ları kapatıp tekrar açın.");
    }
}

// Everything the run will write through, looked at before any of it is written.
void check_init_destinations(const fs::path& base, const fs::path& nb_dir, const std::string& version,
                             std::optional<Seasons>& seasons) {
    std::vector<std::string> names;
    try {
        names = installable_notebooks(nb_dir);
    } catch (const FileError&) {
        // Reported where the notebooks are installed.
    }
    std::vector<fs::path> destinations{base / platform::path_from_utf8(layout::data_readme_rel())};
    for (const std::string& name : names) destinations.push_back(base / platform::path_from_utf8(name));
    destinations.push_back(layout::install_record_path(base));
    destinations.push_back(layout::version_stamp_path(base));
    std::string old_version;
    try {
        old_version = read_version_stamp(base);
    } catch (const FileError&) {
        // Reported where the stamp is read.
    }
    if (!old_version.empty() && old_version != version)
        for (fs::path& meta : meta_files_of(base, names, seasons)) destinations.push_back(std::move(meta));
    check_destinations(destinations);
}

}  // namespace

void cmd_init(const Args& args) {
    const std::string version = services().version();
    const fs::path base = get_work_dir(args.dir);

    print_line("QEV Scoreboard v" + version + " — init");
    print_line("Çalışma dizini: " + printable(platform::path_to_utf8(base)) + "\n");

    create_tree(base);
    remove_left_overs(base);
    const fs::path nb_dir = get_notebooks_dir();
    std::optional<Seasons> seasons;
    check_init_destinations(base, nb_dir, version, seasons);
    const InstallRecord record = read_install_record(base);
    KeptCopies kept(base, record);
    // Should the run be interrupted, the user still learns where the work it kept is.
    kept.on_kept([](const std::vector<std::string>& all) {
        std::string notice;
        for (const std::string& line : kept_lines(all)) notice += line + "\n";
        platform::set_interrupt_notice(notice);
    });
    Installed inst;
    try {
        Fingerprints installed;
        copy_readme(base, kept, installed);
        inst = install_notebooks(base, nb_dir, args.force, kept, installed);
        write_install_record(base, record, installed);
        update_stamp(base, nb_dir, version, !inst.created.empty() || !inst.updated.empty(), seasons);
    } catch (...) {
        for (const std::string& line : kept_lines(kept.kept())) print_line(line);
        // Out of the process's buffer before an interrupt stops telling them.
        platform::flush_stdout();
        platform::set_interrupt_notice({});
        throw;
    }
    print_summary(inst, kept.kept());
    platform::flush_stdout();
    platform::set_interrupt_notice({});
    print_line(std::string(BANNER_HEAD) + printable(platform::path_to_utf8(layout::external_data_dir(base))) +
               std::string(BANNER_TAIL));
}

}  // namespace qev_scoreboard
