#include "qev_scoreboard/core/duckdb_loader.hpp"

#include <atomic>
#include <cerrno>
#include <exception>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "qev_scoreboard/core/duckdb_query.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/self_location.hpp"
#include "qev_scoreboard/platform/dynamic_library.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/platform/working_directory.hpp"

namespace qev_scoreboard {

namespace {

const DuckDBApi* g_api = nullptr;

// Only our own copy, from the installation's private directory: another DuckDB on the system may be
// another version.
platform::SharedLibrary open_library() {
    try {
        return platform::SharedLibrary::open(private_library_dir() / platform::SharedLibrary::file_name("duckdb"));
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("DuckDB kütüphanesi yüklenemedi: ") + e.what());
    }
}

const DuckDBApi* load() {
    platform::SharedLibrary lib = open_library();
    static DuckDBApi api{};
#define QEV_DUCKDB_RESOLVE(name)                                                    \
    api.name = reinterpret_cast<decltype(&::name)>(lib.symbol(#name));              \
    if (api.name == nullptr) {                                                      \
        lib.close();                                                                \
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

namespace {

constexpr const char* OPEN_ACTION = "veritabanı açılamadı";

[[noreturn]] void fail_open(const fs::path& path, const std::string& reason) {
    throw FileError(OPEN_ACTION, path, EINVAL, reason);
}

// The engine opens and reads whatever it is given and would wait forever on a FIFO with no writer.
void require_database_file(const fs::path& path) {
    // A name the system would trim names another file than the engine may open.
    platform::require_keepable_names(path, OPEN_ACTION);
    platform::FileInfo info;
    if (const int err = platform::describe(path, platform::Follow::Links, info); err != 0)
        throw_file_error(OPEN_ACTION, path, err);
    switch (info.kind) {
        case platform::FileKind::Regular:
            return;
        case platform::FileKind::Directory:
            fail_open(path, "bir dizin, veritabanı dosyası değil");
        case platform::FileKind::Fifo:
            fail_open(path, "bir FIFO, veritabanı dosyası değil");
        case platform::FileKind::Device:
            fail_open(path, "bir aygıt, veritabanı dosyası değil");
        default:
            fail_open(path, "düzenli bir dosya değil");
    }
}

}  // namespace

DuckDBResult::DuckDBResult(const DuckDBApi& api, duckdb_connection con, const std::string& sql) : api_(api) {
    if (api_.duckdb_query(con, sql.c_str(), &res_) != DuckDBSuccess) {
        const char* error = api_.duckdb_result_error(&res_);
        std::string message = error && *error ? error : "sorgu başarısız: " + sql;
        api_.duckdb_destroy_result(&res_);
        throw std::runtime_error(message);
    }
}

namespace {

// Opens `path` (nullptr: a database in memory) with the settings both kinds of connection share, then
// locks them. On failure nothing is left open.
void open_engine(const char* path, const std::string& shown, bool read_only, const fs::path& file_search_dir,
                 bool track_progress, duckdb_database& db, duckdb_connection& con) {
    const DuckDBApi& api = duckdb_api();
    duckdb_config config = nullptr;
    if (api.duckdb_create_config(&config) != DuckDBSuccess) throw std::runtime_error("DuckDB ayarları oluşturulamadı");
    static constexpr const char* settings[][2] = {
        {"access_mode", "READ_ONLY"},
        // Views over the raw files must be countable; what reaches beyond local files needs an extension,
        // and none is ever installed or loaded.
        {"enable_external_access", "true"},
        {"autoinstall_known_extensions", "false"},
        {"autoload_known_extensions", "false"},
        {"allow_community_extensions", "false"},
        {"allow_unsigned_extensions", "false"},
        {"allow_persistent_secrets", "false"},
        // No spill files next to the database: the report creates nothing.
        {"temp_directory", ""},
    };
    // A database in memory cannot be opened read-only; it holds nothing but what this program puts there.
    for (const auto& [name, value] : read_only ? std::span(settings) : std::span(settings).subspan(1)) {
        if (api.duckdb_set_config(config, name, value) != DuckDBSuccess) {
            api.duckdb_destroy_config(&config);
            throw std::runtime_error(std::string("DuckDB ayarı reddedildi: ") + name);
        }
    }
    char* error = nullptr;
    duckdb_state rc = api.duckdb_open_ext(path, &db, config, &error);
    api.duckdb_destroy_config(&config);
    if (rc != DuckDBSuccess) {
        std::string message = error ? error : "veritabanı açılamadı: " + shown;
        if (error) api.duckdb_free(error);
        db = nullptr;
        throw std::runtime_error(message);
    }
    if (api.duckdb_connect(db, &con) != DuckDBSuccess) {
        api.duckdb_close(&db);
        throw std::runtime_error("veritabanına bağlanılamadı: " + shown);
    }
    // The search path and the progress are per-connection settings, so they are set here; then nothing may
    // change anything.
    std::vector<std::string> statements;
    if (!file_search_dir.empty())
        statements.push_back("SET file_search_path = " +
                             sql_quoted(platform::path_to_joinable_text(file_search_dir), '\''));
    if (track_progress) {
        statements.push_back("SET enable_progress_bar = true");
        statements.push_back("SET enable_progress_bar_print = false");
    }
    statements.push_back("SET lock_configuration = true");
    try {
        for (const std::string& sql : statements) duckdb_execute(api, con, sql);
    } catch (...) {
        api.duckdb_disconnect(&con);
        api.duckdb_close(&db);
        throw;
    }
}

void close_engine(duckdb_database& db, duckdb_connection& con) {
    const DuckDBApi& api = duckdb_api();
    if (con) api.duckdb_disconnect(&con);
    if (db) api.duckdb_close(&db);
}

}  // namespace

DuckDBReadOnly::DuckDBReadOnly(const fs::path& path, const fs::path& file_search_dir, bool track_progress) {
    require_database_file(path);
    // The engine takes UTF-8 on every system and opens the file itself.
    const std::string path_text = platform::path_to_library_text(path);
    open_engine(path_text.c_str(), platform::path_to_utf8(path), true, file_search_dir, track_progress, db, con);
}

DuckDBReadOnly::~DuckDBReadOnly() { close_engine(db, con); }

DuckDBInMemory::DuckDBInMemory(const fs::path& file_search_dir, bool track_progress) {
    open_engine(nullptr, ":memory:", false, file_search_dir, track_progress, db, con);
}

DuckDBInMemory::~DuckDBInMemory() { close_engine(db, con); }

}  // namespace qev_scoreboard

namespace qev_scoreboard {

namespace {

std::atomic<bool> g_may_change_process_directory{false};

// Runs `body` with the whole process in the directory `dir`, then returns to where it was. Returns
// false, having run nothing, when that is not possible (including when the way back is already closed).
bool run_in_process_directory(const fs::path& dir, const std::function<void(bool)>& body) {
    platform::File home;
    try {
        home = platform::open_directory(".");
    } catch (const FileError&) {
        return false;
    }
    fs::path home_path = ".";
    try {
        home_path = current_directory();
    } catch (const FileError&) {
        // Only named in a message; the open directory is the way back.
    }
    if (platform::change_process_directory(home.get()) != 0 || platform::change_process_directory(dir) != 0)
        return false;
    std::exception_ptr failure;
    try {
        body(true);
    } catch (...) {
        failure = std::current_exception();
    }
    // Relative paths the caller holds mean nothing anywhere else: not getting back is the graver failure.
    if (const int err = platform::change_process_directory(home.get()); err != 0)
        throw WorkingDirectoryLost("geri dönülemedi", home_path, err);
    if (failure) std::rethrow_exception(failure);
    return true;
}

}  // namespace

void allow_process_directory_change() { g_may_change_process_directory = true; }

void with_working_directory(const fs::path& dir, const std::function<void(bool)>& body) {
    std::exception_ptr failure;
    // Threads share the working directory unless one asks for its own; threads started from this one
    // (the engine's workers) share this one's.
    std::thread worker([&] {
        try {
            // Throws when `dir` cannot be entered at all.
            if (platform::enter_thread_working_directory(dir)) {
                body(true);
            } else if (!g_may_change_process_directory || !run_in_process_directory(dir, body)) {
                body(false);
            }
        } catch (...) {
            failure = std::current_exception();
        }
    });
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace qev_scoreboard
