#pragma once
// The parsed-arguments record and the constants the commands share.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace qev_scoreboard {

// The parsed command line. `dir` is the --dir value as typed (absent when not given).
struct Args {
    std::optional<std::string> dir;
    std::optional<std::string> command;  // a sub-command's name; absent: no sub-command
    bool force = false;                  // init --force
    bool json = false;                   // status --json
    std::string db = "db/qev.duckdb";    // verify --db
};

// The raw-data sub-directories under external_data, in the order init creates and status reports them.
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

inline constexpr std::string_view INGEST_NOTEBOOK = "nb_01_ingest.ipynb";

}  // namespace qev_scoreboard
