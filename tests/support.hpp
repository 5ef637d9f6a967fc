#pragma once
// Shared test helpers: scratch directories, file I/O, running the built program, and a set of
// package services that tests control.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qev_scoreboard/services/registry.hpp"
#include "qev_scoreboard/services/services.hpp"

namespace qev_test {

namespace fs = std::filesystem;

// The path named by UTF-8 text (which a plain std::string is not taken to be on Windows).
fs::path utf8_path(std::string_view text);

// Whether the tests run with the power to ignore permissions (root), which some of them need to lack.
bool running_as_root();

// Whether this system and its user may make symbolic links in `dir` (Windows asks for a privilege).
bool can_make_symlinks(const fs::path& dir);

// Whether this is a Windows program running under wine, which differs from Windows in places.
bool under_wine();

// A fresh directory under the system temp dir, removed with everything in it at scope end.
struct TempDir {
    fs::path path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    fs::path operator/(const std::string& rel) const { return path / utf8_path(rel); }
};

std::string slurp(const fs::path& p);
// The names directly in `dir`, sorted.
std::vector<std::string> entries(const fs::path& dir);
// The fingerprint of `bytes`, and of the file at `p`, as the engine and the record of installed files keep
// them: computed apart from the code under test (reference_sha256.cpp).
std::string fingerprint(const std::string& bytes);
std::string fingerprint_of(const fs::path& p);

// The record of installed files `text` as fingerprints alone, by path, one line of JSON: what a record
// says of the files, whatever facts of them it keeps (those differ from run to run). Text that is no such
// record comes back as it is.
std::string recorded_fingerprints(const std::string& text);

// The project's version, as the build defines it: what the built program and library print.
inline const std::string PROJECT_VERSION = QEV_PROJECT_VERSION;
// Writes `content` to `p`, creating parent directories.
void spit(const fs::path& p, const std::string& content);

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};
// UTF-8 text as a std::string.
inline std::string utf8_text(const std::u8string& text) { return std::string(text.begin(), text.end()); }

// `path` as the program prints it: with the system's own separator (on Windows "\\" for every "/").
std::string shown(std::string path);

// The built qev-scoreboard (on Windows, the one beside the test program).
fs::path scoreboard_exe();

// Runs the program `exe` with `args` in `cwd` (the test's own when empty), standard input empty.
RunResult run_program(const fs::path& exe, const std::vector<std::string>& args, const fs::path& cwd = {});
// Runs the built qev-scoreboard so.
RunResult run_cli(const std::vector<std::string>& args, const fs::path& cwd = {});

// The package directory of the build tree: notebooks, data readme and registry as shipped.
fs::path build_data_dir();

// Package services that tests control: a package data directory of the test's own (its notebooks,
// data readme and registry file), a version text, and a record of the installation checks asked for.
struct FakeServices : qev_scoreboard::PackageServices {
    TempDir root;
    fs::path notebooks_dir = root / "notebooks";
    fs::path data_readme = root / "VERI_KOPYALA.txt";
    // Written to adim_registry.json whenever the data directory is asked for; registry_text, when set,
    // is written instead (to shape a broken registry).
    qev_scoreboard::StepRegistry registry;
    std::optional<std::string> registry_text;
    std::string version_text = "1.1.0";
    mutable std::vector<std::string> verify_calls;

    FakeServices();
    fs::path data_dir() const override;
    bool verify_all(const std::string& db) const override {
        verify_calls.push_back(db);
        return true;
    }
    std::string version() const override { return version_text; }
};

// Installs `s` as the services in force for one scope.
struct ScopedServices {
    explicit ScopedServices(const qev_scoreboard::PackageServices& s) { qev_scoreboard::set_services(&s); }
    ~ScopedServices() { qev_scoreboard::set_services(nullptr); }
};

// Captures what the library writes to standard output (C stdio) during one scope.
struct CaptureStdout {
    CaptureStdout();
    ~CaptureStdout();
    std::string finish();  // restores stdout and returns what was written

 private:
    int saved_fd_ = -1;
    std::unique_ptr<TempDir> dir_;
    fs::path file_;
    bool done_ = false;
};

}  // namespace qev_test
