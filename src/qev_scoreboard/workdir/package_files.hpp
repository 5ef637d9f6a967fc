#pragma once
// The package's notebooks as a run installs them: which, and each opened once, so that its fingerprint
// and its copy are of the same bytes.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard {

namespace fs = std::filesystem;

// The package notebooks that are installed into a work directory: all but the ingest notebook, in
// ascending code-point order. A notebook directory that is missing or is not a directory is an error
// ("listelenemedi"): a broken installation, not a package without notebooks.
std::vector<std::string> installable_notebooks(const fs::path& nb_dir);

struct PackageFile {
    fs::path path;
    platform::File file;
    platform::FileInfo info;  // as opened, before anything read it
    std::string fingerprint;
};
// Opens the package file at `path` and fingerprints it; when `seen` and `fingerprint` are given (what a
// look at `looked_at` found), the fingerprint holds without a read while the file's facts are unchanged.
// Without `fingerprint_it`, a fingerprint that does not hold so is left empty: the file is to be
// fingerprinted while it is copied.
PackageFile open_package_file(const fs::path& path, const platform::FileInfo* seen = nullptr,
                              const std::string* fingerprint = nullptr,
                              std::chrono::system_clock::time_point looked_at = {}, bool fingerprint_it = true);

}  // namespace qev_scoreboard
