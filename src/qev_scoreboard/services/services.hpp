#pragma once
// The package services that tests must be able to replace: where the package data lies, the version
// text and the installation check. Everything else about the package is plain functions over these.

#include <filesystem>
#include <string>

namespace qev_scoreboard {

namespace fs = std::filesystem;

struct PackageServices {
    virtual ~PackageServices() = default;
    // The package data directory (its layout: core/layout.hpp).
    virtual fs::path data_dir() const = 0;
    virtual std::string version() const = 0;
    // Runs and prints the installation check for the database at `db`; the result is informational.
    virtual bool verify_all(const std::string& db) const = 0;
};

// The services in force: the installed package's unless a test has put its own in place.
const PackageServices& services();
// Installs `s` (not owned) as the services in force; nullptr restores the package's own.
void set_services(const PackageServices* s);

// The installed package's services.
const PackageServices& package_services();

}  // namespace qev_scoreboard
