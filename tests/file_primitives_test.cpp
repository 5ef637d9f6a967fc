// Safe writes and copies, reads that never block, UTF-8 validation, link-following existence tests and
// the errors that describe their failures.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>

#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "support.hpp"

using namespace qev_test;
using qev_scoreboard::copy_file_atomic;
using qev_scoreboard::FileError;
using qev_scoreboard::is_valid_utf8;
using qev_scoreboard::path_exists;
using qev_scoreboard::read_utf8_file;
using qev_scoreboard::write_file_atomic;

namespace {

std::vector<fs::path> entries(const fs::path& dir) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(FilePrimitives, Utf8Validation) {
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

TEST(FilePrimitives, AtomicWriteReplacesContentKeepsModeLeavesNoTemp) {
    TempDir d;
    const fs::path f = d / "meta.json";
    write_file_atomic(f, "first");
    EXPECT_EQ(slurp(f), "first");
    fs::permissions(f, fs::perms(0640));
    write_file_atomic(f, "second");
    EXPECT_EQ(slurp(f), "second");
#ifndef _WIN32  // files there have no mode bits to keep
    EXPECT_EQ(fs::status(f).permissions(), fs::perms(0640));
#endif
    EXPECT_EQ(entries(d.path), std::vector<fs::path>{"meta.json"});
}

TEST(FilePrimitives, FailedWriteLeavesOriginalAndNoTemp) {
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

TEST(FilePrimitives, AStreamedWriteLandsWholeOrNotAtAll) {
    TempDir d;
    const fs::path f = d / "meta.json";
    spit(f, "old");
    fs::permissions(f, fs::perms(0640));
    std::string big;
    write_file_atomic(f, [&](const qev_scoreboard::ContentWriter& write) {
        for (int i = 0; i < 3000; ++i) {
            const std::string piece = std::to_string(i) + std::string(100, 'x') + "\n";
            write(piece);
            big += piece;
        }
    });
    EXPECT_EQ(slurp(f), big);
#ifndef _WIN32
    EXPECT_EQ(fs::status(f).permissions(), fs::perms(0640));
#endif
    // A producer that fails part-way leaves the old content and no temporary file.
    EXPECT_THROW(write_file_atomic(f,
                                   [](const qev_scoreboard::ContentWriter& write) {
                                       write(std::string(70000, 'y'));
                                       throw std::runtime_error("kesildi");
                                   }),
                 std::runtime_error);
    EXPECT_EQ(slurp(f), big);
    EXPECT_EQ(entries(d.path), std::vector<fs::path>{"meta.json"});
}

TEST(FilePrimitives, CopyCarriesContentModeAndTimes) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: mode bits and access times; CopyCarriesContentAndModificationTime covers Windows";
#else
    TempDir d;
    const fs::path src = d / "src.ipynb", dst = d / "dst.ipynb";
    std::string big(300000, 'x');
    big[12345] = 'y';
    spit(src, big);
    ::chmod(src.c_str(), 0751);
    const struct timespec times[2] = {{1000000000, 123456789}, {1200000000, 987654321}};
    ::utimensat(AT_FDCWD, src.c_str(), times, 0);
    copy_file_atomic(src, dst);
    struct stat st {};
    ::stat(dst.c_str(), &st);  // before reading it, which may move its access time
    EXPECT_EQ(slurp(dst), big);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 987654321);
    EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
    EXPECT_EQ(entries(d.path), (std::vector<fs::path>{"dst.ipynb", "src.ipynb"}));

    // Over an existing file: the mode still, but the time of the replacement, newer than any editor's.
    spit(dst, "old user content that is longer than nothing");
    ::chmod(dst.c_str(), 0600);
    const time_t before = ::time(nullptr);
    copy_file_atomic(src, dst);
    ::stat(dst.c_str(), &st);
    EXPECT_EQ(slurp(dst), big);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_GE(st.st_mtim.tv_sec, before);
#endif
}

TEST(FilePrimitives, NewCopyCarriesModificationTimeAReplacementTakesItsOwn) {
    TempDir d;
    const fs::path src = d / "src.ipynb", dst = d / "dst.ipynb";
    std::string big(300000, 'x');
    big[12345] = 'y';
    spit(src, big);
    fs::last_write_time(src, fs::last_write_time(src) - std::chrono::hours(24 * 400) + std::chrono::milliseconds(123));
    const auto when = fs::last_write_time(src);  // as finely as the system keeps it
    copy_file_atomic(src, dst);
    EXPECT_EQ(slurp(dst), big);
    EXPECT_EQ(fs::last_write_time(dst), when);

    spit(dst, "old user content that is longer than nothing");
    const auto edited = fs::last_write_time(dst);
    copy_file_atomic(src, dst);
    EXPECT_EQ(slurp(dst), big);
    EXPECT_GE(fs::last_write_time(dst), edited);
    EXPECT_EQ(entries(d.path), (std::vector<fs::path>{"dst.ipynb", "src.ipynb"}));
}

TEST(FilePrimitives, FailedCopyKeepsDestination) {
    TempDir d;
    spit(d / "dst", "user's file");
    EXPECT_THROW(copy_file_atomic(d / "missing", d / "dst"), fs::filesystem_error);
    fs::create_directory(d / "srcdir");
    EXPECT_THROW(copy_file_atomic(d / "srcdir", d / "dst"), fs::filesystem_error);
    EXPECT_EQ(slurp(d / "dst"), "user's file");
    EXPECT_EQ(entries(d.path), (std::vector<fs::path>{"dst", "srcdir"}));
}

TEST(FilePrimitives, ExistenceFollowsLinksAndTreatsBrokenOnesAsAbsent) {
    TempDir d;
    if (!can_make_symlinks(d.path)) GTEST_SKIP() << "symbolic links cannot be made here";
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

TEST(FilePrimitives, ErrorsDescribeThemselvesEvenWhenCopiedAsTheirBase) {
    const FileError e("okunamadı", utf8_path("/a b/ç.json"), ENOENT);
    const std::string text = shown("/a b/ç.json") + ": okunamadı: " + qev_scoreboard::errno_reason(ENOENT);
    EXPECT_EQ(std::string(e.what()), text);
    EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
    EXPECT_EQ(e.path1(), utf8_path("/a b/ç.json"));
    const std::runtime_error sliced = e;
    EXPECT_EQ(std::string(sliced.what()), text);
    EXPECT_EQ(std::string(FileError("yazılamadı", "x", EINVAL, "düzenli bir dosya değil").what()),
              "x: yazılamadı: düzenli bir dosya değil");
    // An errno value without a Turkish text still names itself.
#ifdef EHWPOISON
    const int untold = EHWPOISON;
#else
    const int untold = 999;
#endif
    EXPECT_NE(qev_scoreboard::errno_reason(untold).find(std::to_string(untold)), std::string::npos);
}

TEST(FilePrimitives, WritesGoThroughLinksAndKeepThem) {
    TempDir d;
    if (!can_make_symlinks(d.path)) GTEST_SKIP() << "symbolic links cannot be made here";
    spit(d / "store" / "real.json", "old");
    fs::permissions(d / "store" / "real.json", fs::perms(0640));
    fs::create_symlink("store/real.json", d / "link.json");  // relative, as users make them
    fs::create_symlink(d / "link.json", d / "link2.json");   // and a link to a link
    write_file_atomic(d / "link2.json", "new");
    EXPECT_TRUE(fs::is_symlink(d / "link.json"));
    EXPECT_TRUE(fs::is_symlink(d / "link2.json"));
    EXPECT_EQ(slurp(d / "store" / "real.json"), "new");
#ifndef _WIN32  // files there have no mode bits to keep
    EXPECT_EQ(fs::status(d / "store" / "real.json").permissions(), fs::perms(0640));
#endif

    spit(d / "package.ipynb", "package");
    copy_file_atomic(d / "package.ipynb", d / "link.json");
    EXPECT_TRUE(fs::is_symlink(d / "link.json"));
    EXPECT_EQ(slurp(d / "store" / "real.json"), "package");
    EXPECT_EQ(entries(d / "store"), std::vector<fs::path>{"real.json"});

    // A dangling link is written through as well: its target comes into being.
    fs::create_symlink("made.json", d / "dangling.json");
    write_file_atomic(d / "dangling.json", "made");
    EXPECT_TRUE(fs::is_symlink(d / "dangling.json"));
    EXPECT_EQ(slurp(d / "made.json"), "made");

    fs::create_symlink("loop_b", d / "loop_a");
    fs::create_symlink("loop_a", d / "loop_b");
    EXPECT_THROW(write_file_atomic(d / "loop_a", "x"), FileError);
}

TEST(FilePrimitives, RewriteKeepsOwnerAndGroup) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: owners and groups by number";
#else
    if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file away";
    TempDir d;
    spit(d / "stamp", "1.0.0");
    ASSERT_EQ(::chown((d / "stamp").c_str(), 65534, 65534), 0);
    ::chmod((d / "stamp").c_str(), 0664);
    write_file_atomic(d / "stamp", "1.1.0");
    spit(d / "src", "package");
    spit(d / "nb", "user");
    ASSERT_EQ(::chown((d / "nb").c_str(), 65534, 65534), 0);
    copy_file_atomic(d / "src", d / "nb");
    for (const char* name : {"stamp", "nb"}) {
        struct stat st {};
        ASSERT_EQ(::stat((d / name).c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u) << name;
        EXPECT_EQ(st.st_gid, 65534u) << name;
    }
    EXPECT_EQ(fs::status(d / "stamp").permissions(), fs::perms(0664));
#endif
}

TEST(FilePrimitives, NewFilesTakeTheUmaskWhichStaysUnchanged) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: the umask";
#else
    TempDir d;
    const mode_t saved = ::umask(027);
    write_file_atomic(d / "new", "x");
    const mode_t during = ::umask(saved);
    EXPECT_EQ(during, 027u);
    EXPECT_EQ(fs::status(d / "new").permissions(), fs::perms(0640));
#endif
}

TEST(FilePrimitives, ReadOnlyFilesAreRefusedAsAPlainWriteWouldBe) {
    if (running_as_root()) GTEST_SKIP() << "root writes a read-only file";
    TempDir d;
    spit(d / "stamp", "1.0.0");
    fs::permissions(d / "stamp", fs::perms(0444));
    try {
        write_file_atomic(d / "stamp", "1.1.0");
        ADD_FAILURE() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.code(), std::errc::permission_denied);
        EXPECT_EQ(e.path1(), d / "stamp");
    }
    spit(d / "src", "package");
    EXPECT_THROW(copy_file_atomic(d / "src", d / "stamp"), FileError);
    EXPECT_EQ(slurp(d / "stamp"), "1.0.0");
    EXPECT_EQ(entries(d.path), (std::vector<fs::path>{"src", "stamp"}));
    // Still read-only: the attempt took nothing from the file.
    EXPECT_EQ(fs::status(d / "stamp").permissions() & fs::perms::owner_write, fs::perms::none);
}

TEST(FilePrimitives, ADirectoryRefusingNewFilesGetsItsFilesWrittenInPlace) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a directory's permissions do not refuse new files there";
#else
    if (::geteuid() == 0) GTEST_SKIP() << "root creates files in any directory";
    TempDir d;
    spit(d / "shared" / "nb", "a longer old content than the new one");
    spit(d / "src", "new");
    ::chmod((d / "shared").c_str(), 0555);
    copy_file_atomic(d / "src", d / "shared" / "nb");
    EXPECT_EQ(slurp(d / "shared" / "nb"), "new");
    write_file_atomic(d / "shared" / "nb", "written");
    EXPECT_EQ(slurp(d / "shared" / "nb"), "written");
    write_file_atomic(d / "shared" / "nb", [](const qev_scoreboard::ContentWriter& write) {
        write("in ");
        write("pieces");
    });
    EXPECT_EQ(slurp(d / "shared" / "nb"), "in pieces");
    EXPECT_EQ(entries(d / "shared"), std::vector<fs::path>{"nb"});
    // A new file there is refused, as a plain write would be.
    EXPECT_THROW(write_file_atomic(d / "shared" / "other", "x"), FileError);
    ::chmod((d / "shared").c_str(), 0755);
#endif
}

TEST(FilePrimitives, OddFileTypesAreErrorsNeverHangs) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: FIFOs and /dev/zero";
#else
    TempDir d;
    ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0644), 0);
    spit(d / "src", "x");
    // Each of these would wait for a writer or reader forever if the FIFO were opened as a file.
    EXPECT_THROW(read_utf8_file(d / "fifo"), FileError);
    EXPECT_THROW(write_file_atomic(d / "fifo", "x"), FileError);
    EXPECT_THROW(copy_file_atomic(d / "src", d / "fifo"), FileError);
    EXPECT_THROW(copy_file_atomic(d / "fifo", d / "dst"), FileError);
    EXPECT_THROW(read_utf8_file("/dev/zero"), FileError);
    EXPECT_EQ(entries(d.path), (std::vector<fs::path>{"fifo", "src"}));
#endif
}

TEST(FilePrimitives, ReadsAreBoundedAndNamed) {
    TempDir d;
    spit(d / "big", std::string(2048, ' '));
    try {
        read_utf8_file(d / "big", 1024);
        ADD_FAILURE() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), (d / "big").string() + ": okunamadı: " + qev_scoreboard::errno_reason(EFBIG));
    }
    spit(d / "bad", "a\xff");
    try {
        read_utf8_file(d / "bad");
        ADD_FAILURE() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), (d / "bad").string() + ": okunamadı: geçerli UTF-8 değil");
    }
}

TEST(FilePrimitives, LongestNamesNeedNoLongerTemporaryName) {
    TempDir d;
    const std::string name(255, 'n');
    spit(d / "src", "x");
    copy_file_atomic(d / "src", d / name);
    write_file_atomic(d / name, "y");
    EXPECT_EQ(slurp(d / name), "y");
    EXPECT_EQ(entries(d.path).size(), 2u);
}

}  // namespace
