// `init`: scaffolds a work directory, or brings an existing one up to date with the installed package:
// directory tree, data readme copy, notebooks (by fingerprint, or all with --force), version stamp and
// the engine's meta hashes after a version change, then the summary and the closing banner.
// --dry-run prints what the run would do and print, doing none of it.

#include <string>
#include <vector>

#include "qev_scoreboard/cli/args.hpp"
#include "qev_scoreboard/cli/handlers.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/core/lines.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/console.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/platform/process.hpp"
#include "qev_scoreboard/services/paths.hpp"
#include "qev_scoreboard/services/services.hpp"
#include "qev_scoreboard/workdir/apply.hpp"
#include "qev_scoreboard/workdir/kept_copies.hpp"
#include "qev_scoreboard/workdir/left_overs.hpp"
#include "qev_scoreboard/workdir/paths.hpp"
#include "qev_scoreboard/workdir/plan.hpp"

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

// A dry run makes none of them, but fails where making them surely would.
void create_tree(const fs::path& base, bool dry_run) {
    for (const std::string& rel : layout::tree_dirs()) {
        const fs::path dir = base / platform::path_from_utf8(rel);
        if (dry_run)
            require_makeable(dir);
        else
            make_directories(dir);
        print_line("  [OK] " + rel + "/");
    }
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

void print_summary(const InstallResult& inst, const std::vector<std::string>& kept) {
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

}  // namespace

void cmd_init(const Args& args) {
    const std::string version = services().version();
    const fs::path base = get_work_dir(args.dir);

    if (args.dry_run) print_line("ÖNİZLEME — hiçbir şey yazılmadı");
    print_line("QEV Scoreboard v" + version + " — init");
    print_line("Çalışma dizini: " + printable(platform::path_to_utf8(base)) + "\n");

    create_tree(base, args.dry_run);
    if (!args.dry_run) remove_left_overs(base);
    // A dry run decides everything now: it has no copying to learn a fingerprint from.
    InstallPlan plan = plan_install(base, get_notebooks_dir(), args.force ? InstallPolicy::Force : InstallPolicy::Init,
                                    version, args.dry_run);
    KeptCopies kept(base, plan.record);
    // Should the run be interrupted, the user still learns where the work it kept is.
    kept.on_kept([](const std::vector<std::string>& all) {
        std::string notice;
        for (const std::string& line : kept_lines(all)) notice += line + "\n";
        platform::set_interrupt_notice(notice);
    });
    InstallResult result;
    try {
        result = args.dry_run ? preview_install(plan, kept) : apply_install(plan, kept);
    } catch (...) {
        for (const std::string& line : kept_lines(kept.kept())) print_line(line);
        // Out of the process's buffer before an interrupt stops telling them.
        platform::flush_stdout();
        platform::set_interrupt_notice({});
        throw;
    }
    print_summary(result, kept.kept());
    platform::flush_stdout();
    platform::set_interrupt_notice({});
    print_line(std::string(BANNER_HEAD) + printable(platform::path_to_utf8(layout::external_data_dir(base))) +
               std::string(BANNER_TAIL));
}

}  // namespace qev_scoreboard
