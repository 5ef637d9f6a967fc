#include "qev_scoreboard/core/duckdb_loader.hpp"

#include <dlfcn.h>

#include <mutex>
#include <stdexcept>
#include <string>

#include "qev_scoreboard/core/self_location.hpp"

namespace qev_scoreboard {

namespace {

const DuckDBApi* g_api = nullptr;

// Only our own copy, from the installation's private directory: another DuckDB on the system may be
// another version.
void* open_library() {
    std::string path;
    try {
        path = (private_library_dir() / "libduckdb.so").string();
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("DuckDB kütüphanesi yüklenemedi: ") + e.what());
    }
    if (void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    throw std::runtime_error(std::string("DuckDB kütüphanesi yüklenemedi: ") + ::dlerror());
}

const DuckDBApi* load() {
    void* handle = open_library();
    static DuckDBApi api{};
#define QEV_DUCKDB_RESOLVE(name)                                                    \
    api.name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name));         \
    if (api.name == nullptr) {                                                      \
        ::dlclose(handle);                                                          \
        throw std::runtime_error("DuckDB kütüphanesi eksik: " #name " bulunamadı"); \
    }
    QEV_DUCKDB_FUNCTIONS(QEV_DUCKDB_RESOLVE)
#undef QEV_DUCKDB_RESOLVE
    return &api;
}

}  // namespace

const DuckDBApi& duckdb_api() {
    static std::mutex m;
    std::lock_guard lock(m);
    if (g_api == nullptr) g_api = load();
    return *g_api;
}

bool duckdb_loaded() { return g_api != nullptr; }

}  // namespace qev_scoreboard

namespace qev_scoreboard {

DuckDBReadOnly::DuckDBReadOnly(const std::string& path) {
    const DuckDBApi& api = duckdb_api();
    duckdb_config config = nullptr;
    if (api.duckdb_create_config(&config) != DuckDBSuccess) throw std::runtime_error("DuckDB ayarları oluşturulamadı");
    static constexpr const char* settings[][2] = {
        {"access_mode", "READ_ONLY"},
        {"enable_external_access", "false"},
        {"autoinstall_known_extensions", "false"},
        {"autoload_known_extensions", "false"},
    };
    for (const auto& [name, value] : settings) {
        if (api.duckdb_set_config(config, name, value) != DuckDBSuccess) {
            api.duckdb_destroy_config(&config);
            throw std::runtime_error(std::string("DuckDB ayarı reddedildi: ") + name);
        }
    }
    char* error = nullptr;
    duckdb_state rc = api.duckdb_open_ext(path.c_str(), &db, config, &error);
    api.duckdb_destroy_config(&config);
    if (rc != DuckDBSuccess) {
        std::string message = error ? error : "veritabanı açılamadı: " + path;
        if (error) api.duckdb_free(error);
        db = nullptr;
        throw std::runtime_error(message);
    }
    if (api.duckdb_connect(db, &con) != DuckDBSuccess) {
        api.duckdb_close(&db);
        throw std::runtime_error("veritabanına bağlanılamadı: " + path);
    }
}

DuckDBReadOnly::~DuckDBReadOnly() {
    const DuckDBApi& api = duckdb_api();
    if (con) api.duckdb_disconnect(&con);
    if (db) api.duckdb_close(&db);
}

}  // namespace qev_scoreboard
