// After notebooks are replaced, writes their new fingerprints into the engine's step meta files so
// the engine does not re-run steps whose notebook changed only by being reinstalled.

#include "qev_scoreboard/workdir/meta_refresh.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/core/lines.hpp"
#include "qev_scoreboard/core/meta_rewriter.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/platform/temporary_file.hpp"
#include "qev_scoreboard/services/registry.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/stop.hpp"

namespace qev_scoreboard {

namespace {

// Whether a meta file that could not be read is the engine's business rather than a failure: what it
// holds is no meta file of ours to refresh (not UTF-8, too large, not a regular file), this user may not
// read it, or it went meanwhile.
bool passed_over(const FileError& e) {
    const int err = e.code().value();
    return err == EACCES || err == EPERM || err == ENOENT || refused_as_text(e);
}

// A meta file above this is passed over, as it always was: no file the engine writes comes near it.
constexpr std::uint64_t MAX_META_SIZE = std::uint64_t{1} << 30;

// Sets nb_hash in one meta file. True when the file was rewritten; false when it already matched, or it
// is not a UTF-8 JSON object or one this user may not read: the engine's file is then left exactly as it
// was. A file that exists but cannot be read for another reason (an I/O error), or cannot be written, is
// an error: its step would otherwise be re-run with nothing said. The file is read and written in pieces,
// so a large one takes no more memory than a small one. Unless `write`, only whether it would be rewritten.
bool refresh_meta_file(const fs::path& meta_path, const std::string& hash, bool write) {
    std::optional<Fd> file;
    std::optional<MetaMemberRewrite> rewrite;
    try {
        file.emplace(open_regular_for_reading(meta_path));
        if (platform::info(file->get(), meta_path).size > MAX_META_SIZE) return false;
        rewrite.emplace(file->get(), meta_path, "nb_hash", hash);
    } catch (const FileError& e) {
        if (passed_over(e)) return false;
        throw;
    } catch (const JsonError&) {
        return false;  // not UTF-8, not JSON, or not an object
    }
    if (!rewrite->needed()) return false;
    if (!write) return true;
    try {
        write_file_atomic(meta_path, [&](const ContentWriter& write) {
            // Asked again, the name having been replaced meanwhile by another run's refresh: that file stays.
            if (!rewrite) throw JsonError("geçersiz JSON: dosya okunurken değişti");
            rewrite->write(write);
            // Closed before the replacement: Windows replaces no file that a handle of ours holds open.
            rewrite.reset();
            file.reset();
        });
    } catch (const JsonError&) {
        return false;  // changed while it was rewritten: the engine's own content stays
    }
    // The new entry reaches the disk before any stamp vouches for it.
    sync_directory(meta_path.parent_path());
    return true;
}

}  // namespace

void _update_meta_hashes(const fs::path& base, const std::vector<std::string>& updated_notebooks) {
    std::optional<Seasons> seasons;
    update_meta_hashes(base, updated_notebooks, seasons);
}

void update_meta_hashes(const fs::path& base, const std::vector<std::string>& updated_notebooks,
                        std::optional<Seasons>& seasons, const std::map<std::string, std::string>* known,
                        bool preview) {
    std::unordered_map<std::string, std::vector<std::string>> nb_to_codes;
    for (const StepRecord& step : adim_registry()) nb_to_codes[step.nb].push_back(step.kod);

    const fs::path seasons_dir = layout::seasons_dir(base);
    if (!path_exists(seasons_dir)) return;

    std::set<fs::path> cleaned;
    int guncellenen = 0;
    for (const std::string& name : updated_notebooks) {
        stop_point(base);
        const fs::path notebook = base / platform::path_from_utf8(name);
        const auto just_installed =
            known != nullptr ? known->find(name) : std::map<std::string, std::string>::const_iterator();
        const bool installed_now = known != nullptr && just_installed != known->end();
        // Installed now, the notebook is there: the preview's may be still to come.
        if (!installed_now && !path_exists(notebook)) continue;
        const std::string hash = installed_now ? just_installed->second : _file_hash(notebook);
        const auto codes = nb_to_codes.find(name);
        if (codes == nb_to_codes.end()) continue;
        if (!seasons) seasons.emplace(seasons_dir);
        for (const std::string& kod : codes->second) {
            const std::string file = layout::meta_file_name(kod);
            const auto [presence, season] = seasons->find(file);
            if (presence != Presence::Present) continue;
            const fs::path meta = seasons->candidate(season, file);
            // What a killed run left beside the engine's files goes, whether or not this one is rewritten.
            if (!preview && cleaned.insert(meta.parent_path()).second)
                platform::remove_left_over_temporaries_in(meta.parent_path());
            if (refresh_meta_file(meta, hash, !preview)) ++guncellenen;
        }
    }
    if (guncellenen != 0)
        print_line("  [SYNC] " + std::to_string(guncellenen) + " meta hash güncellendi (gereksiz re-run önlendi)");
}

std::vector<fs::path> meta_files_of(const fs::path& base, const std::vector<std::string>& names,
                                    std::optional<Seasons>& seasons) {
    std::vector<fs::path> found;
    try {
        const fs::path seasons_dir = layout::seasons_dir(base);
        if (!leads_to_directory(seasons_dir)) return found;
        std::unordered_map<std::string, std::vector<std::string>> nb_to_codes;
        for (const StepRecord& step : adim_registry()) nb_to_codes[step.nb].push_back(step.kod);
        if (!seasons) seasons.emplace(seasons_dir);
        for (const std::string& name : names) {
            const auto codes = nb_to_codes.find(name);
            if (codes == nb_to_codes.end()) continue;
            for (const std::string& kod : codes->second) {
                const std::string file = layout::meta_file_name(kod);
                const auto [presence, season] = seasons->find(file);
                if (presence == Presence::Present) found.push_back(seasons->candidate(season, file));
            }
        }
    } catch (const std::exception&) {
        // What cannot be searched now, the refresh itself reports.
    }
    return found;
}

}  // namespace qev_scoreboard
