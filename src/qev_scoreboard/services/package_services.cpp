#include "qev_scoreboard/build_config.hpp"
#include "qev_scoreboard/core/self_location.hpp"
#include "qev_scoreboard/services/services.hpp"
#include "qev_scoreboard/services/verify_install.hpp"

namespace qev_scoreboard {

namespace {

struct InstalledPackage final : PackageServices {
    fs::path data_dir() const override { return package_data_dir(); }
    std::string version() const override { return QEV_SCOREBOARD_VERSION_TEXT; }
    bool verify_all(const std::string& db) const override { return run_verify_all(db); }
};

const PackageServices* g_override = nullptr;

}  // namespace

const PackageServices& package_services() {
    static const InstalledPackage pkg;
    return pkg;
}

const PackageServices& services() { return g_override ? *g_override : package_services(); }

void set_services(const PackageServices* s) { g_override = s; }

}  // namespace qev_scoreboard
