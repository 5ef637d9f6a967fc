#pragma once
// Every name of a work directory's layout, and of the package data directory's, spelled once. Paths are
// relative to the work directory unless they say otherwise; relative texts have "/" between names.

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qev_scoreboard {

// The raw-data sub-directories under external_data, in the order init creates and status reports them,
// with what each holds.
struct ExternalDataSubdir {
    std::string_view name;
    std::string_view content;
};
inline constexpr std::array<ExternalDataSubdir, 10> EXTERNAL_DATA_SUBDIRS{{
    {"kik_data_ham_csv", "KIK izleme CSV"},
    {"kredi_db", "Kredi risk parquet"},
    {"yis_tahmin_data", "YIS tahmin CSV"},
    {"eus_tahmin_data", "EUS tahmin CSV"},
    {"eus_hedef_muta", "EUS hedef MUTA"},
    {"eus_sql_kapsam_muta", "EUS kapsam MUTA"},
    {"statik_db", "Statik bilgiler TXT"},
    {"yis_train_data", "YIS training parquet"},
    {"rkd_donem_data", "RKD kriter parquet"},
    {"memzuc_data_donem", "Memzuc parquet"},
}};

namespace layout {

namespace fs = std::filesystem;

// db/: the pipeline's database, the version stamp and the record of installed files.
inline constexpr std::string_view DB = "db";
inline constexpr std::string_view DATABASE = "qev.duckdb";
inline constexpr std::string_view VERSION_STAMP = ".nb_version";
inline constexpr std::string_view INSTALL_RECORD = ".nb_installed.json";

// outputs/ with its sub-directories, and the pipeline's sample outputs (relative to outputs/).
inline constexpr std::string_view OUTPUTS = "outputs";
inline constexpr std::array<std::string_view, 3> OUTPUT_DIRS = {"json", "html", "validation"};
inline constexpr std::array<std::string_view, 2> SAMPLE_OUTPUTS = {"json/sample_scoreboard.json",
                                                                   "json/sample_trending_lists.json"};
inline constexpr std::string_view ML_MODELS = "ml_models";

// seasons/<season>/meta/adim_<kod>.json: the engine's step meta files, and its error reports.
inline constexpr std::string_view SEASONS = "seasons";
inline constexpr std::string_view META = "meta";
inline constexpr std::string_view META_FILE_PREFIX = "adim_";
inline constexpr std::string_view META_FILE_SUFFIX = ".json";
inline constexpr std::string_view ERROR_REPORT = "error_report.txt";

// yedek/<run's time>/: the copies kept of the user's own files.
inline constexpr std::string_view KEPT_COPIES = "yedek";

// external_data/: the raw data, and the copy of the package's data readme.
inline constexpr std::string_view EXTERNAL_DATA = "external_data";
inline constexpr std::string_view DATA_README = "VERI_KOPYALA.txt";

// The package data directory: its notebooks (directly in notebooks/), the data readme (under the name
// above) and the step registry; the ingest notebook is never installed.
inline constexpr std::string_view PACKAGE_NOTEBOOKS = "notebooks";
inline constexpr std::string_view PACKAGE_REGISTRY = "adim_registry.json";
inline constexpr std::string_view NOTEBOOK_SUFFIX = ".ipynb";
inline constexpr std::string_view INGEST_NOTEBOOK = "nb_01_ingest.ipynb";

fs::path db_dir(const fs::path& base);
fs::path database_path(const fs::path& base);
fs::path version_stamp_path(const fs::path& base);
fs::path install_record_path(const fs::path& base);
fs::path outputs_dir(const fs::path& base);
fs::path seasons_dir(const fs::path& base);
fs::path kept_copies_dir(const fs::path& base);
fs::path external_data_dir(const fs::path& base);

// The data readme's place, as the record and the kept copies name it: "external_data/VERI_KOPYALA.txt".
std::string data_readme_rel();

// The --db value verify takes when none is given: the database's place, relative ("db/qev.duckdb").
std::string default_database_argument();

// "adim_<kod>.json", and whether a name is one.
std::string meta_file_name(std::string_view kod);
bool is_meta_file_name(std::string_view name);

// The directories init creates, in order: db, the outputs' three, ml_models, seasons, then each raw-data
// directory under external_data.
std::vector<std::string> tree_dirs();

// The error reports the auto-sync deletes at fixed places: outputs/json/ and outputs/.
std::vector<fs::path> fixed_error_reports(const fs::path& base);

}  // namespace layout

}  // namespace qev_scoreboard
