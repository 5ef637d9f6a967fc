// After notebooks are replaced, writes their new fingerprints into the engine's step meta files so
// the engine does not re-run steps whose notebook changed only by being reinstalled.

#include <algorithm>
#include <cerrno>
#include <exception>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "qev_scoreboard/cli/output.hpp"
#include "qev_scoreboard/cli/sync.hpp"
#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/file_error.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/json.hpp"
#include "qev_scoreboard/services/registry.hpp"

namespace qev_scoreboard {

namespace {

// Season directory names, greatest first. Listed anew for every step code.
std::vector<std::string> seasons_newest_first(const fs::path& seasons_dir) {
    std::vector<std::string> names;
    for (DirEntry& entry : list_directory(seasons_dir)) names.push_back(std::move(entry.name));
    std::sort(names.begin(), names.end(), std::greater<>());
    return names;
}

// Sets nb_hash in one meta file. True when the file was rewritten; false when it already matched or
// anything about it failed (unreadable, not UTF-8, not a JSON object, not writable): the engine's
// file is then left exactly as it was.
bool refresh_meta_file(const fs::path& meta_path, const std::string& hash) {
    try {
        JsonValue doc = parse_meta_json(read_utf8_file(meta_path));
        const JsonValue* current = find_member(doc, "nb_hash");
        if (current && current->kind == JsonValue::Kind::String && current->text == hash) return false;
        set_member(doc, "nb_hash", json_string(hash));
        write_file_atomic(meta_path, dump_json(doc));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

enum class Presence { Absent, Present, Hidden };

// Whether the step's meta file is in this season. A season we may not search may hold it: like a meta
// file we cannot read, it is left alone and ends the search for that step, rather than the whole refresh.
Presence meta_file_presence(const fs::path& candidate) {
    try {
        return path_exists(candidate) ? Presence::Present : Presence::Absent;
    } catch (const FileError& e) {
        if (e.code().value() == EACCES) return Presence::Hidden;
        throw;
    }
}

}  // namespace

void _update_meta_hashes(const fs::path& base, const std::vector<std::string>& updated_notebooks) {
    std::unordered_map<std::string, std::vector<std::string>> nb_to_codes;
    for (const StepRecord& step : adim_registry()) nb_to_codes[step.nb].push_back(step.kod);

    const fs::path seasons_dir = base / "seasons";
    if (!path_exists(seasons_dir)) return;

    int guncellenen = 0;
    for (const std::string& name : updated_notebooks) {
        const fs::path notebook = base / name;
        if (!path_exists(notebook)) continue;
        const std::string hash = _file_hash(notebook);
        const auto codes = nb_to_codes.find(name);
        if (codes == nb_to_codes.end()) continue;
        for (const std::string& kod : codes->second) {
            for (const std::string& season : seasons_newest_first(seasons_dir)) {
                const fs::path candidate = seasons_dir / season / "meta" / ("adim_" + kod + ".json");
                const Presence presence = meta_file_presence(candidate);
                if (presence == Presence::Absent) continue;
                if (presence == Presence::Present && refresh_meta_file(candidate, hash)) ++guncellenen;
                break;
            }
        }
    }
    if (guncellenen != 0)
        print_line("  [SYNC] " + std::to_string(guncellenen) + " meta hash güncellendi (gereksiz re-run önlendi)");
}

}  // namespace qev_scoreboard
