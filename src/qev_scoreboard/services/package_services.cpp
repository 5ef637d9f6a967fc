#include <dlfcn.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "qev_scoreboard/services/services.hpp"
#include "qev_scoreboard/version.hpp"

namespace qev_scoreboard {

bool run_verify_all(const std::string& db);  // verify_install.cpp

namespace {

fs::path work_dir_for(const std::optional<std::string>& dir) {
    if (!dir) return fs::current_path();
    if (dir->empty()) return fs::path(".");
    return fs::path(*dir);
}

StepRegistry load_registry(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("adım kaydı okunamadı: " + file.string());
    std::ostringstream text;
    text << in.rdbuf();
    nlohmann::ordered_json doc;
    try {
        doc = nlohmann::ordered_json::parse(text.str());
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error("adım kaydı geçersiz: " + file.string() + ": " + e.what());
    }
    if (!doc.is_object()) throw std::runtime_error("adım kaydı bir nesne değil: " + file.string());
    StepRegistry out;
    for (const auto& [kod, info] : doc.items()) {
        if (!info.is_object() || !info.contains("nb") || !info["nb"].is_string())
            throw std::runtime_error("adım kaydı: '" + kod + "' adımının \"nb\" alanı yok: " + file.string());
        out.push_back({kod, info["nb"].get<std::string>()});
    }
    return out;
}

struct InstalledPackage final : PackageServices {
    fs::path get_work_dir(const std::optional<std::string>& dir) const override { return work_dir_for(dir); }
    fs::path get_source_dir(const std::optional<std::string>& dir) const override {
        return work_dir_for(dir) / "external_data";
    }
    fs::path get_db_path(const std::optional<std::string>& dir) const override {
        return work_dir_for(dir) / "db" / "qev.duckdb";
    }
    fs::path get_output_dir(const std::optional<std::string>& dir) const override {
        return work_dir_for(dir) / "outputs";
    }
    fs::path get_notebooks_dir() const override { return package_data_dir() / "notebooks"; }
    fs::path get_data_readme() const override { return package_data_dir() / "VERI_KOPYALA.txt"; }
    StepRegistry adim_registry() const override { return load_registry(package_data_dir() / "adim_registry.json"); }
    bool verify_all(const std::string& db) const override { return run_verify_all(db); }
    std::string version() const override { return QEV_SCOREBOARD_VERSION_TEXT; }
};

const PackageServices* g_override = nullptr;

}  // namespace

const PackageServices& package_services() {
    static const InstalledPackage pkg;
    return pkg;
}

const PackageServices& services() { return g_override ? *g_override : package_services(); }

void set_services(const PackageServices* s) { g_override = s; }

fs::path library_dir() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&library_dir), &info) == 0 || info.dli_fname == nullptr)
        throw std::runtime_error("kütüphanenin konumu bulunamadı");
    std::error_code ec;
    fs::path self = fs::canonical(info.dli_fname, ec);
    if (ec) throw std::runtime_error(std::string("kütüphanenin konumu bulunamadı: ") + info.dli_fname);
    return self.parent_path();
}

fs::path package_data_dir() { return (library_dir() / QEV_SCOREBOARD_DATA_FROM_LIBDIR).lexically_normal(); }

}  // namespace qev_scoreboard
