#pragma once
// The engine's seasons as the meta refresh and the status report search them: for a step's meta file,
// the season with the greatest name that holds one.

#include <cstddef>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qev_scoreboard {

namespace fs = std::filesystem;

enum class Presence { Absent, Present, Hidden };

// The seasons of one seasons directory, greatest name first, listed once; each season's meta directory is
// listed at most once, and only as far as the steps asked for need, so a search for every step costs about
// one walk of the tree however many steps there are.
class Seasons {
 public:
    // Lists `dir`; throws FileError when it cannot be listed.
    explicit Seasons(fs::path dir);

    // The season, by its place in the order, its name, and the path of its meta file `file`.
    const std::string& name(size_t season) const { return names_[season]; }
    fs::path candidate(size_t season, const std::string& file) const;

    // The greatest season whose meta file `file` exists (Present), or that we may not search (Hidden):
    // like a meta file we cannot read, such a season ends the search for that step. Absent when none.
    std::pair<Presence, size_t> find(const std::string& file);

 private:
    void scan_next();

    fs::path dir_;
    std::vector<std::string> names_;
    size_t scanned_ = 0;
    std::unordered_map<std::string, std::vector<size_t>> listed_;  // meta file name -> seasons listing it
    std::vector<size_t> probed_;                                   // seasons whose meta could not be listed
};

}  // namespace qev_scoreboard
