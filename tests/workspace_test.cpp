// The version stamp's reading rules and the package notebook listing shared by init and the auto-sync.
#include <gtest/gtest.h>

#include "qev_scoreboard/services/paths.hpp"
#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/paths.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"
#include "support.hpp"

using namespace qev_test;
using qev_scoreboard::list_package_notebooks;
using qev_scoreboard::read_version_stamp;
using qev_scoreboard::write_version_stamp;

namespace {

TEST(VersionStamp, ReadTrimsWhiteSpaceOfEveryKind) {
    TempDir ws;
    EXPECT_EQ(read_version_stamp(ws.path), "");  // no db/ at all
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {" \t\r\n", ""},
        {"1.0.0", "1.0.0"},
        {"1.0.0\n", "1.0.0"},
        {"  1.0.0 \r\n", "1.0.0"},
        {"\xC2\xA0"
         "1.0.0\xE3\x80\x80",
         "1.0.0"},  // no-break space, ideographic space
        {"\x1f"
         "1.0 beta\xE2\x80\xA8",
         "1.0 beta"},  // inner space kept
        {"sürüm-ç", "sürüm-ç"},
    };
    for (const auto& [content, expected] : cases) {
        spit(ws / "db/.nb_version", content);
        EXPECT_EQ(read_version_stamp(ws.path), expected) << content;
    }
}

TEST(VersionStamp, DamagedStampReadsAsNoneAnUnreadableOneIsAnError) {
    TempDir ws;
    spit(ws / "db/.nb_version", "1.0\xff");
    EXPECT_EQ(read_version_stamp(ws.path), "");
    spit(ws / "db/.nb_version", "1.0.0" + std::string(4096, ' '));
    EXPECT_EQ(read_version_stamp(ws.path), "");
    spit(ws / "db/.nb_version", "1.0.0" + std::string(4091, ' '));
    EXPECT_EQ(read_version_stamp(ws.path), "1.0.0");
    fs::remove(ws / "db/.nb_version");
    fs::create_directories(ws / "db/.nb_version");
    EXPECT_THROW(read_version_stamp(ws.path), fs::filesystem_error);
    EXPECT_THROW(write_version_stamp(ws.path, "1.0.0"), fs::filesystem_error);
}

TEST(VersionStamp, WriteIsTheBareVersion) {
    TempDir ws;
    fs::create_directory(ws / "db");
    spit(ws / "db/.nb_version", "0.9.0 with a much longer old content\n");
    write_version_stamp(ws.path, "1.0.0");
    EXPECT_EQ(slurp(ws / "db/.nb_version"), "1.0.0");
}

TEST(PackageNotebooks, ListingIsDirectEntriesEndingInIpynbByCodePoint) {
    TempDir pkg;
    for (const char* name : {"nb_2.ipynb", "nb_10.ipynb", "alpha.ipynb", "Zeta.ipynb", "Ölçüm.ipynb", ".ipynb",
                             "readme.txt", "x.IPYNB", "x.ipynb.bak"})
        spit(pkg / name, "{}");
    spit(pkg / "sub" / "deep.ipynb", "{}");
    EXPECT_EQ(list_package_notebooks(pkg.path), (std::vector<std::string>{".ipynb", "Zeta.ipynb", "alpha.ipynb",
                                                                          "nb_10.ipynb", "nb_2.ipynb", "Ölçüm.ipynb"}));
    EXPECT_TRUE(list_package_notebooks(pkg / "missing").empty());
    EXPECT_TRUE(list_package_notebooks(pkg / "readme.txt").empty());
}

}  // namespace
