// The installation check behind `verify`: one line per check, "[OK]" or "[HATA]", and a closing count.
// Its findings are for the user; they never change the exit status.
#include "qev_scoreboard/services/verify_install.hpp"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <functional>
#include <set>
#include <string>

#include "qev_scoreboard/core/duckdb_loader.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/sha256.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/console.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/services/paths.hpp"
#include "qev_scoreboard/services/registry.hpp"
#include "qev_scoreboard/services/services.hpp"

namespace qev_scoreboard {

namespace {

struct Tally {
    int failed = 0;

    // Runs one check: it returns the detail of an OK line or throws with the failure's description.
    // Both may hold paths, shown with their control characters escaped.
    void check(const std::string& label, const std::function<std::string()>& probe) {
        std::string line;
        try {
            line = "  [OK]   " + label + ": " + printable(probe());
        } catch (const std::exception& e) {
            ++failed;
            line = "  [HATA] " + label + ": " + printable(e.what());
        }
        platform::write_stdout(line + "\n");
    }
};

std::string check_notebooks() {
    const fs::path dir = get_notebooks_dir();
    if (!leads_to_directory(dir)) throw FileError("okunamadı", dir, ENOENT, "notebook dizini bulunamadı");
    const auto names = list_package_notebooks(dir);
    if (names.empty()) throw FileError("okunamadı", dir, ENOENT, "notebook yok");
    return platform::path_to_utf8(dir) + " (" + std::to_string(names.size()) + " notebook)";
}

std::string check_readme() {
    const fs::path path = get_data_readme();
    read_utf8_file(path);
    return platform::path_to_utf8(path);
}

std::string check_registry() {
    const StepRegistry registry = adim_registry();
    const fs::path nb_dir = get_notebooks_dir();
    const auto shipped = list_package_notebooks(nb_dir);
    const std::set<std::string> have(shipped.begin(), shipped.end());
    std::set<std::string> named;
    for (const auto& step : registry) {
        if (!have.count(step.nb))
            throw FileError("okunamadı", nb_dir / platform::path_from_utf8(step.nb), ENOENT,
                            "'" + step.kod + "' adımının notebook'u paketle gelmiyor");
        named.insert(step.nb);
    }
    return std::to_string(registry.size()) + " adım, " + std::to_string(named.size()) + " notebook";
}

std::string check_digest() { return check_digest_library(); }

std::string check_engine() { return std::string("DuckDB ") + duckdb_api().duckdb_library_version(); }

std::string check_database(const std::string& db) {
    const fs::path path = platform::path_from_utf8(db);
    try {
        DuckDBReadOnly session(path);
    } catch (const FileError&) {
        throw;  // already "<path>: <action>: <reason>"
    } catch (const std::exception& e) {
        throw FileError("açılamadı", path, EIO, e.what());
    }
    return db + " salt-okunur açıldı";
}

}  // namespace

bool run_verify_all(const std::string& db) {
    platform::write_stdout("QEV Scoreboard v" + services().version() + " — verify\n\n");
    Tally tally;
    tally.check("Notebook dizini", check_notebooks);
    tally.check("Veri okuma dosyası", check_readme);
    tally.check("Adım kaydı", check_registry);
    tally.check("Özet kütüphanesi", check_digest);
    tally.check("Veritabanı motoru", check_engine);
    bool absent = false;
    try {
        const fs::path path = platform::path_from_utf8(db);
        // A name the system would trim is refused by the check, not looked up as another.
        platform::require_keepable_names(path, "veritabanı açılamadı");
        absent = !path_exists(path);
    } catch (const std::exception&) {
        // Not absent: opening it names the failure.
    }
    if (absent)
        platform::write_stdout("  [--]   Veritabanı: " + printable(db) + " YOK — pipeline henüz çalışmamış\n");
    else
        tally.check("Veritabanı", [&] { return check_database(db); });
    if (tally.failed == 0) {
        platform::write_stdout("\nKurulum doğrulandı.\n");
    } else {
        std::string text(1, '\n');
        text += std::to_string(tally.failed);
        text += " kontrol başarısız.\n";
        platform::write_stdout(text);
    }
    std::fflush(stdout);
    return tally.failed == 0;
}

}  // namespace qev_scoreboard
