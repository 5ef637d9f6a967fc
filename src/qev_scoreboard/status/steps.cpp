// The steps of the registry as their newest meta files record them, beside the notebooks installed now.
#include "qev_scoreboard/status/steps.hpp"

#include <cerrno>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/json_reader.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/services/registry.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/seasons.hpp"

namespace qev_scoreboard {

namespace {

// The nb_hash of a step's meta file: absent when the file holds none.
std::optional<std::string> recorded_fingerprint(const fs::path& meta, std::string& error) {
    try {
        const JsonValue top = parse_meta_json(read_utf8_file(meta));
        const JsonValue* hash = find_member(top, "nb_hash");
        if (hash != nullptr && hash->kind == JsonValue::Kind::String) return hash->text;
        error = "nb_hash yok";
    } catch (const FileError& e) {
        error = e.reason();
    } catch (const std::runtime_error& e) {
        error = e.what();
    }
    return std::nullopt;
}

// The steps of the registry whose meta file is in some season, each as the newest such season records
// it, with the fingerprint of the notebook installed now: the engine runs a step again when they differ.
// What cannot be read is a finding, as elsewhere in the report: a step's error, or the steps' own.
}  // namespace

std::vector<StatusReport::Step> collect_steps(const fs::path& base, std::string& steps_error) {
    std::vector<StatusReport::Step> steps;
    const fs::path seasons_dir = layout::seasons_dir(base);
    std::optional<Seasons> found;
    try {
        if (!leads_to_directory(seasons_dir)) return steps;
        found.emplace(seasons_dir);
    } catch (const FileError& e) {
        steps_error = e.what();
        return steps;
    }
    Seasons& seasons = *found;
    std::map<std::string, std::pair<std::optional<std::string>, std::string>> current;  // by notebook
    for (const StepRecord& record : adim_registry()) {
        const std::string file = layout::meta_file_name(record.kod);
        const auto [presence, season] = seasons.find(file);
        if (presence == Presence::Absent) continue;
        StatusReport::Step step;
        step.season = seasons.name(season);
        step.code = record.kod;
        step.notebook = record.nb;
        if (presence == Presence::Hidden)
            step.error = errno_reason(EACCES);
        else
            step.recorded = recorded_fingerprint(seasons.candidate(season, file), step.error);
        auto known = current.find(record.nb);
        if (known == current.end()) {
            const fs::path notebook = base / platform::path_from_utf8(record.nb);
            std::pair<std::optional<std::string>, std::string> fingerprint;
            try {
                if (path_exists(notebook)) fingerprint.first = _file_hash(notebook);
            } catch (const FileError& e) {
                fingerprint.second = e.what();  // a notebook that cannot be read: no fingerprint to compare
            }
            known = current.emplace(record.nb, std::move(fingerprint)).first;
        }
        step.current = known->second.first;
        if (step.error.empty()) step.error = known->second.second;
        steps.push_back(std::move(step));
    }
    return steps;
}

}  // namespace qev_scoreboard
