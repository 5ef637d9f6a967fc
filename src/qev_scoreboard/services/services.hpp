#pragma once
// The package services the command module relies on: path getters, step registry, installation check
// and version text. Commands reach them only through services(), so tests can install their own.

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qev_scoreboard {

namespace fs = std::filesystem;

// One entry of ADIM_REGISTRY: a step code and the notebook file name the step runs from ("nb").
struct StepRecord {
    std::string kod;
    std::string nb;
};
using StepRegistry = std::vector<StepRecord>;  // registry order

struct PackageServices {
    virtual ~PackageServices() = default;

    // The work directory for a --dir value: absent gives the current directory, "" gives ".",
    // anything else is used exactly as typed.
    virtual fs::path get_work_dir(const std::optional<std::string>& dir) const = 0;
    virtual fs::path get_source_dir(const std::optional<std::string>& dir) const = 0;
    virtual fs::path get_db_path(const std::optional<std::string>& dir) const = 0;
    virtual fs::path get_output_dir(const std::optional<std::string>& dir) const = 0;
    // The directory whose *.ipynb entries are the package's notebooks.
    virtual fs::path get_notebooks_dir() const = 0;
    // The data readme copied to external_data/VERI_KOPYALA.txt.
    virtual fs::path get_data_readme() const = 0;
    // ADIM_REGISTRY, read anew on each call. Throws when it cannot be read or a record lacks "nb".
    virtual StepRegistry adim_registry() const = 0;
    // Runs and prints the installation check; the result is informational only.
    virtual bool verify_all(const std::string& db) const = 0;
    virtual std::string version() const = 0;
};

// The services in force: the installed package's unless a test has put its own in place.
const PackageServices& services();
// Installs `s` (not owned) as the services in force; nullptr restores the package's own.
void set_services(const PackageServices* s);

// The installed package's services, found relative to the library's own location.
const PackageServices& package_services();

// Where the package data lives: <prefix>/share/qev-scoreboard for the prefix this library sits in.
fs::path package_data_dir();
// The directory holding this library (and the DuckDB runtime beside it).
fs::path library_dir();

}  // namespace qev_scoreboard
