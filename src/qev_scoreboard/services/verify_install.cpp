// The installation check behind `verify`: one line per check, "[OK]" or "[HATA]", and a closing count.
// Its findings are for the user; they never change the exit status.
#include <cstdio>
#include <exception>
#include <functional>
#include <set>
#include <string>

#include "qev_scoreboard/cli/cli.hpp"
#include "qev_scoreboard/cli/fs_util.hpp"
#include "qev_scoreboard/services/duckdb_loader.hpp"
#include "qev_scoreboard/services/services.hpp"

namespace qev_scoreboard {

namespace {

struct Tally {
    int failed = 0;

    // Runs one check: it returns the detail of an OK line or throws with the failure's reason.
    void check(const std::string& label, const std::function<std::string()>& probe) {
        std::string line;
        try {
            line = "  [OK]   " + label + ": " + probe();
        } catch (const std::exception& e) {
            ++failed;
            line = "  [HATA] " + label + ": " + e.what();
        }
        std::printf("%s\n", line.c_str());
    }
};

std::string check_notebooks(const PackageServices& s) {
    const fs::path dir = s.get_notebooks_dir();
    if (!fs::is_directory(dir)) throw std::runtime_error(dir.string() + " bulunamadı");
    const auto names = list_package_notebooks(dir);
    if (names.empty()) throw std::runtime_error(dir.string() + " içinde notebook yok");
    return dir.string() + " (" + std::to_string(names.size()) + " notebook)";
}

std::string check_readme(const PackageServices& s) {
    const fs::path path = s.get_data_readme();
    const std::string text = read_file(path);
    if (!is_valid_utf8(text)) throw std::runtime_error(path.string() + " geçerli UTF-8 değil");
    return path.string();
}

std::string check_registry(const PackageServices& s) {
    const StepRegistry registry = s.adim_registry();
    const auto shipped = list_package_notebooks(s.get_notebooks_dir());
    const std::set<std::string> have(shipped.begin(), shipped.end());
    std::set<std::string> named;
    for (const auto& step : registry) {
        if (!have.count(step.nb))
            throw std::runtime_error("'" + step.kod + "' adımının notebook'u paketle gelmiyor: " + step.nb);
        named.insert(step.nb);
    }
    return std::to_string(registry.size()) + " adım, " + std::to_string(named.size()) + " notebook";
}

std::string check_engine() { return std::string("DuckDB ") + duckdb_api().duckdb_library_version(); }

std::string check_database(const std::string& db) {
    DuckDBReadOnly session(db);
    return db + " salt-okunur açıldı";
}

}  // namespace

bool run_verify_all(const std::string& db) {
    const PackageServices& s = services();
    std::printf("QEV Scoreboard v%s — verify\n\n", s.version().c_str());
    Tally tally;
    tally.check("Notebook dizini", [&] { return check_notebooks(s); });
    tally.check("Veri okuma dosyası", [&] { return check_readme(s); });
    tally.check("Adım kaydı", [&] { return check_registry(s); });
    tally.check("Veritabanı motoru", check_engine);
    if (path_exists(db)) {
        tally.check("Veritabanı", [&] { return check_database(db); });
    } else {
        std::printf("  [--]   Veritabanı: %s YOK — pipeline henüz çalışmamış\n", db.c_str());
    }
    if (tally.failed == 0) {
        std::printf("\nKurulum doğrulandı.\n");
    } else {
        std::printf("\n%d kontrol başarısız.\n", tally.failed);
    }
    std::fflush(stdout);
    return tally.failed == 0;
}

}  // namespace qev_scoreboard
