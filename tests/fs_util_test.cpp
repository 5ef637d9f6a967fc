// Safe writes and copies, UTF-8 validation and link-following existence tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "support.hpp"

using namespace qev_test;
using qev_scoreboard::copy_file_atomic;
using qev_scoreboard::is_valid_utf8;
using qev_scoreboard::path_exists;
using qev_scoreboard::write_file_atomic;

namespace {

std::vector<fs::path> entries(const fs::path& dir) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(FsUtil, Utf8Validation) {
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_TRUE(is_valid_utf8("Çalışma dizini — ├── ← \xF0\x9F\x98\x80"));
    EXPECT_FALSE(is_valid_utf8("\xff"));
    EXPECT_FALSE(is_valid_utf8("\xc3"));              // truncated
    EXPECT_FALSE(is_valid_utf8("\xc0\xaf"));          // overlong
    EXPECT_FALSE(is_valid_utf8("\xe0\x80\xaf"));      // overlong
    EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(is_valid_utf8("\xf4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(is_valid_utf8("a\x80z"));            // lone continuation
}

TEST(FsUtil, AtomicWriteReplacesContentKeepsModeLeavesNoTemp) {
    TempDir d;
    const fs::path f = d / "meta.json";
    write_file_atomic(f, "first");
    EXPECT_EQ(slurp(f), "first");
    ::chmod(f.c_str(), 0640);
    write_file_atomic(f, "second");
    EXPECT_EQ(slurp(f), "second");
    struct stat st {};
    ::stat(f.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(entries(d.path), std::vector<fs::path>{"meta.json"});
}

TEST(FsUtil, FailedWriteLeavesOriginalAndNoTemp) {
    TempDir d;
    // A directory in the target's place: the rename fails, nothing else changes.
    fs::create_directory(d / "target");
    spit(d / "target" / "inside", "keep");
    EXPECT_THROW(write_file_atomic(d / "target", "x"), fs::filesystem_error);
    EXPECT_EQ(slurp(d / "target" / "inside"), "keep");
    EXPECT_EQ(entries(d.path), std::vector<fs::path>{"target"});
    // A missing directory: no temporary file can be made.
    EXPECT_THROW(write_file_atomic(d / "nope" / "f", "x"), fs::filesystem_error);
}

TEST(FsUtil, CopyCarriesContentModeAndTimes) {
    TempDir d;
    const fs::path src = d / "src.ipynb", dst = d / "dst.ipynb";
    std::string big(300000, 'x');
    big[12345] = 'y';
    spit(src, big);
    ::chmod(src.c_str(), 0751);
    const struct timespec times[2] = {{1000000000, 123456789}, {1200000000, 987654321}};
    ::utimensat(AT_FDCWD, src.c_str(), times, 0);
    spit(dst, "old user content that is longer than nothing");
    copy_file_atomic(src, dst);
    struct stat st {};
    ::stat(dst.c_str(), &st);  // before reading it, which may move its access time
    EXPECT_EQ(slurp(dst), big);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 987654321);
    EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
    EXPECT_EQ(entries(d.path), (std::vector<fs::path>{"dst.ipynb", "src.ipynb"}));
}

TEST(FsUtil, FailedCopyKeepsDestination) {
    TempDir d;
    spit(d / "dst", "user's file");
    EXPECT_THROW(copy_file_atomic(d / "missing", d / "dst"), fs::filesystem_error);
    fs::create_directory(d / "srcdir");
    EXPECT_THROW(copy_file_atomic(d / "srcdir", d / "dst"), fs::filesystem_error);
    EXPECT_EQ(slurp(d / "dst"), "user's file");
    EXPECT_EQ(entries(d.path), (std::vector<fs::path>{"dst", "srcdir"}));
}

TEST(FsUtil, ExistenceFollowsLinksAndTreatsBrokenOnesAsAbsent) {
    TempDir d;
    spit(d / "file", "x");
    fs::create_symlink(d / "file", d / "good");
    fs::create_symlink(d / "nothing", d / "dangling");
    fs::create_symlink(d / "loop1", d / "loop2");
    fs::create_symlink(d / "loop2", d / "loop1");
    EXPECT_TRUE(path_exists(d / "file"));
    EXPECT_TRUE(path_exists(d / "good"));
    EXPECT_FALSE(path_exists(d / "dangling"));
    EXPECT_FALSE(path_exists(d / "loop1"));
    EXPECT_FALSE(path_exists(d / "file" / "below"));  // through a non-directory
    EXPECT_FALSE(path_exists(d / "none"));
}

}  // namespace
