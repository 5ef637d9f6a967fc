// Where the wheel's command finds the wheel's files: in each layout installers give an environment, the
// site directory beside the scripts directory that holds this version's package; never another version's,
// nor a package directory that lacks its data.
#include "qev_scoreboard/core/self_location.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.hpp"

using namespace qev_test;
using qev_scoreboard::wheel_package_dir;

namespace {

const std::string VERSION = "9.8.7";

// The wheel installed into `site` as an installer leaves it: the package with its data, and its record.
void install(const TempDir& root, const std::string& site, const std::string& version = VERSION) {
    fs::create_directories(root / (site + "/qev_scoreboard_cli/share/qev-scoreboard/notebooks"));
    fs::create_directories(root / (site + "/qev_scoreboard_cli-" + version + ".dist-info"));
}

fs::path found(const TempDir& root, const std::string& scripts) {
    fs::create_directories(root / scripts);
    return wheel_package_dir(root / scripts, VERSION);
}

}  // namespace

TEST(WheelCommand, FindsThePackageInEveryLayoutOfAnEnvironment) {
    struct Layout {
        const char* what;
        std::string scripts, site;
    };
    const std::vector<Layout> layouts = {
        {"a virtual or conda environment", "venv/bin", "venv/lib/python3.11/site-packages"},
        {"PyPy", "pypy/bin", "pypy/lib/pypy3.10/site-packages"},
        {"Debian's system Python", "usr/local/bin", "usr/local/lib/python3.11/dist-packages"},
        {"a system whose compiled packages go to lib64", "fedora/bin", "fedora/lib64/python3.12/site-packages"},
        {"the user's base", "home/.local/bin", "home/.local/lib/python3.13t/site-packages"},
        {"Windows: a virtual environment or the system's Python", "win/Scripts", "win/Lib/site-packages"},
        {"Windows: the user's base", "Python311/Scripts", "Python311/site-packages"},
        {"--target", "target/bin", "target"},
        {"--home", "home dir/bin", "home dir/lib/python"},
    };
    for (const Layout& layout : layouts) {
        TempDir root;
        install(root, layout.site);
        EXPECT_EQ(found(root, layout.scripts), root / (layout.site + "/qev_scoreboard_cli")) << layout.what;
    }
}

TEST(WheelCommand, TakesOnlyThisVersionsPackageAndOnlyOneWithItsData) {
    {
        TempDir root;  // the environment holds another version only
        install(root, "venv/lib/python3.11/site-packages", "9.8.6");
        EXPECT_EQ(found(root, "venv/bin"), fs::path());
    }
    {
        TempDir root;  // this version's record beside a package without its data
        fs::create_directories(root / "venv/lib/python3.11/site-packages/qev_scoreboard_cli-9.8.7.dist-info");
        fs::create_directories(root / "venv/lib/python3.11/site-packages/qev_scoreboard_cli/share");
        EXPECT_EQ(found(root, "venv/bin"), fs::path());
    }
    {
        TempDir root;  // two Pythons of one user's base, each with its own version
        install(root, ".local/lib/python3.10/site-packages", "9.8.6");
        install(root, ".local/lib/python3.12/site-packages");
        EXPECT_EQ(found(root, ".local/bin"), root / ".local/lib/python3.12/site-packages/qev_scoreboard_cli");
    }
    {
        TempDir root;  // nothing installed: the build tree's own layout is no environment
        fs::create_directories(root / "share/qev-scoreboard");
        EXPECT_EQ(found(root, "bin"), fs::path());
    }
}
