#include "qev_scoreboard/core/layout.hpp"

namespace qev_scoreboard::layout {

namespace {

fs::path name(std::string_view text) { return fs::path(std::string(text)); }

std::string joined(std::string_view dir, std::string_view entry) { return std::string(dir) + "/" + std::string(entry); }

}  // namespace

fs::path db_dir(const fs::path& base) { return base / name(DB); }
fs::path database_path(const fs::path& base) { return db_dir(base) / name(DATABASE); }
fs::path version_stamp_path(const fs::path& base) { return db_dir(base) / name(VERSION_STAMP); }
fs::path install_record_path(const fs::path& base) { return db_dir(base) / name(INSTALL_RECORD); }
fs::path outputs_dir(const fs::path& base) { return base / name(OUTPUTS); }
fs::path seasons_dir(const fs::path& base) { return base / name(SEASONS); }
fs::path kept_copies_dir(const fs::path& base) { return base / name(KEPT_COPIES); }
fs::path external_data_dir(const fs::path& base) { return base / name(EXTERNAL_DATA); }

std::string data_readme_rel() { return joined(EXTERNAL_DATA, DATA_README); }

std::string default_database_argument() { return joined(DB, DATABASE); }

std::string meta_file_name(std::string_view kod) {
    return std::string(META_FILE_PREFIX) + std::string(kod) + std::string(META_FILE_SUFFIX);
}

bool is_meta_file_name(std::string_view entry) {
    return entry.starts_with(META_FILE_PREFIX) && entry.ends_with(META_FILE_SUFFIX);
}

std::vector<std::string> tree_dirs() {
    std::vector<std::string> dirs{std::string(DB)};
    for (std::string_view sub : OUTPUT_DIRS) dirs.push_back(joined(OUTPUTS, sub));
    dirs.emplace_back(ML_MODELS);
    dirs.emplace_back(SEASONS);
    for (const auto& sub : EXTERNAL_DATA_SUBDIRS) dirs.push_back(joined(EXTERNAL_DATA, sub.name));
    return dirs;
}

std::vector<fs::path> fixed_error_reports(const fs::path& base) {
    return {outputs_dir(base) / name(OUTPUT_DIRS[0]) / name(ERROR_REPORT), outputs_dir(base) / name(ERROR_REPORT)};
}

}  // namespace qev_scoreboard::layout
