// The notebook fingerprint: the first 16 hex digits of SHA-256, checked against known digests.
#include <gtest/gtest.h>

#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"
#include "support.hpp"

using namespace qev_test;
using qev_scoreboard::_file_hash;

namespace {

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) % 256);
    return s;
}

std::string hash_of(const TempDir& d, const std::string& content) {
    spit(d / "f", content);
    return _file_hash(d / "f");
}

TEST(FileHash, KnownDigests) {
    TempDir d;
    EXPECT_EQ(hash_of(d, ""), "e3b0c44298fc1c14");
    EXPECT_EQ(hash_of(d, "abc"), "ba7816bf8f01cfea");
    EXPECT_EQ(hash_of(d, std::string(1000000, 'a')), "cdc76e5c9914fb92");
}

TEST(FileHash, BlockBoundariesDoNotChangeTheDigest) {
    TempDir d;
    // Exactly one block, and three blocks plus a short tail.
    EXPECT_EQ(hash_of(d, pattern(8192)), "79a68194a5a1dc35");
    EXPECT_EQ(hash_of(d, pattern(3 * 8192 + 5)), "8944e3a5d7f3d0e0");
}

TEST(FileHash, AnySingleByteChangeShows) {
    TempDir d;
    std::string content = pattern(3 * 8192 + 5);
    content[8192] ^= 1;
    EXPECT_EQ(hash_of(d, content), "eb85b780b827c2f8");
}

TEST(FileHash, DependsOnlyOnBytes) {
    TempDir d;
    spit(d / "a.ipynb", "{\"cells\": []}");
    spit(d / "sub" / "b.ipynb", "{\"cells\": []}");
    fs::permissions(d / "sub" / "b.ipynb", fs::perms::owner_read | fs::perms::owner_write);
    fs::last_write_time(d / "sub" / "b.ipynb", fs::file_time_type::clock::now() - std::chrono::hours(48));
    const std::string h = _file_hash(d / "a.ipynb");
    EXPECT_EQ(h.size(), 16u);
    EXPECT_EQ(h.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(_file_hash(d / "sub" / "b.ipynb"), h);
}

TEST(FileHash, UnreadablePathsThrow) {
    TempDir d;
    EXPECT_THROW(_file_hash(d / "missing.ipynb"), fs::filesystem_error);
    fs::create_directory(d / "dir.ipynb");
    EXPECT_THROW(_file_hash(d / "dir.ipynb"), fs::filesystem_error);
}

}  // namespace
