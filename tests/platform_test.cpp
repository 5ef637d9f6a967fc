// The platform layer: where Linux has a call of its own, the portable fallback that other systems take
// must give the same answer; on Windows, its own calls give the answers the layer promises.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "qev_scoreboard/platform/destination.hpp"
#include "qev_scoreboard/platform/dynamic_library.hpp"
#include "qev_scoreboard/platform/file_content.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/held_directory.hpp"
#include "qev_scoreboard/platform/random.hpp"
#include "qev_scoreboard/platform/self_location.hpp"
#include "qev_scoreboard/platform/temporary_file.hpp"
#include "qev_scoreboard/platform/working_directory.hpp"
#include "support.hpp"
#ifdef _WIN32
#include "qev_scoreboard/platform/win/windows.hpp"
#else
#include "qev_scoreboard/platform/unix/variants.hpp"
#endif

namespace fs = std::filesystem;
namespace platform = qev_scoreboard::platform;
using qev_test::TempDir;

#ifdef _WIN32
TEST(Platform, SelfLocationIsTheRunningProgram) {
    std::wstring self(32768, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    EXPECT_EQ(platform::module_file(), fs::canonical(self));
}

TEST(Platform, RandomBytesDiffer) {
    unsigned char a[64] = {}, b[64] = {};
    platform::random_bytes(a, sizeof a);
    platform::random_bytes(b, sizeof b);
    EXPECT_FALSE(std::equal(std::begin(a), std::end(a), std::begin(b)));
    EXPECT_TRUE(std::any_of(std::begin(a), std::end(a), [](unsigned char c) { return c != 0; }));
}

TEST(Platform, AProgramStartedThroughPathFindsItsInstallation) {
    GTEST_SKIP() << "POSIX only: there a program learns its own file from the system, however started";
}

TEST(Platform, AThreadWorkingDirectoryLeavesTheProcessAlone) {
    GTEST_SKIP() << "POSIX only: Windows has no working directory per thread";
}
#else
namespace variants = qev_scoreboard::platform::unix_variants;

TEST(Platform, SelfLocationIsTheRunningProgramEitherWay) {
    const fs::path self = fs::canonical("/proc/self/exe");
    EXPECT_EQ(platform::module_file(), self);
    EXPECT_EQ(variants::module_file_posix(), self);
#if QEV_HAVE_LINUX_CALLS
    EXPECT_EQ(variants::module_file_linux(), self);
#endif
}

// The portable way learns a program started through PATH by its bare name only.
TEST(Platform, AProgramStartedThroughPathFindsItsInstallation) {
    TempDir tmp;
    const fs::path exe(QEV_SCOREBOARD_EXE);
    const std::string cmd = "cd / && PATH='" + exe.parent_path().string() + "' '" + exe.filename().string() +
                            "' --dir '" + (tmp / "ws").string() + "' init >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    EXPECT_TRUE(fs::exists(tmp / "ws" / "db" / ".nb_version"));
}

TEST(Platform, RandomBytesFromEverySourceDiffer) {
    using Source = bool (*)(unsigned char*, std::size_t);
    std::vector<Source> sources{variants::random_bytes_posix};
#if QEV_HAVE_LINUX_CALLS
    sources.push_back(variants::random_bytes_linux);
#endif
    for (Source source : sources) {
        unsigned char a[64] = {}, b[64] = {};
        ASSERT_TRUE(source(a, sizeof a));
        ASSERT_TRUE(source(b, sizeof b));
        EXPECT_FALSE(std::equal(std::begin(a), std::end(a), std::begin(b)));
        EXPECT_TRUE(std::any_of(std::begin(a), std::end(a), [](unsigned char c) { return c != 0; }));
    }
}
#endif

TEST(Platform, RandomNamesAreUniqueAndUseTheWholeAlphabet) {
    std::set<std::string> names;
    std::set<char> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string name = platform::random_name(8);
        ASSERT_EQ(name.size(), 8u);
        for (char c : name) {
            ASSERT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) << name;
            seen.insert(c);
        }
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 2000u);
    EXPECT_EQ(seen.size(), 36u);
    EXPECT_EQ(platform::random_name(100).size(), 100u);
    EXPECT_EQ(platform::random_name(0), "");
}

#ifndef _WIN32
namespace {

// Runs `enter` on a thread of its own; returns what it returned and the thread's working directory then,
// or throws what it threw.
std::pair<bool, fs::path> in_thread(bool (*enter)(const fs::path&), const fs::path& dir) {
    std::pair<bool, fs::path> out;
    std::exception_ptr failure;
    std::thread([&] {
        try {
            out = {enter(dir), fs::current_path()};
        } catch (...) {
            failure = std::current_exception();
        }
    }).join();
    if (failure) std::rethrow_exception(failure);
    return out;
}

}  // namespace

TEST(Platform, AThreadWorkingDirectoryLeavesTheProcessAlone) {
    TempDir tmp;
    const fs::path before = fs::current_path();
    const fs::path dir = fs::canonical(tmp.path);
    const auto [portable, portable_cwd] = in_thread(variants::enter_thread_working_directory_posix, dir);
    EXPECT_FALSE(portable);
    EXPECT_EQ(portable_cwd, before);
#if QEV_HAVE_LINUX_CALLS
    const auto [own, own_cwd] = in_thread(variants::enter_thread_working_directory_linux, dir);
    EXPECT_TRUE(own);
    EXPECT_EQ(own_cwd, dir);
#endif
    EXPECT_EQ(fs::current_path(), before);
}

TEST(Platform, AThreadWorkingDirectoryMustBeADirectory) {
    TempDir tmp;
    qev_test::spit(tmp / "file", "x");
    std::vector<bool (*)(const fs::path&)> ways{variants::enter_thread_working_directory_posix};
#if QEV_HAVE_LINUX_CALLS
    ways.push_back(variants::enter_thread_working_directory_linux);
#endif
    for (auto enter : ways) {
        for (const fs::path& bad : {tmp / "missing", tmp / "file"}) {
            try {
                in_thread(enter, bad);
                ADD_FAILURE() << bad << " was entered";
            } catch (const qev_scoreboard::FileError& e) {
                EXPECT_EQ(std::string(e.what()).rfind(bad.string() + ": açılamadı: ", 0), 0u) << e.what();
            }
        }
    }
}

#endif

TEST(Platform, SharedLibrariesLoadOrSayWhyNot) {
#ifdef _WIN32
    EXPECT_EQ(platform::SharedLibrary::file_name("duckdb"), "duckdb.dll");
    platform::SharedLibrary libc = platform::SharedLibrary::open("msvcrt.dll");
#else
    EXPECT_EQ(platform::SharedLibrary::file_name("duckdb"), "libduckdb.so");
    platform::SharedLibrary libc = platform::SharedLibrary::open("libc.so.6");
#endif
    EXPECT_NE(libc.symbol("strlen"), nullptr);
    EXPECT_EQ(libc.symbol("qev_no_such_function"), nullptr);
    TempDir tmp;
    qev_test::spit(tmp / "libbroken.so", "not a library");
    for (const fs::path& bad : {tmp / "libmissing.so", tmp / "libbroken.so"}) {
        try {
            platform::SharedLibrary::open(bad);
            ADD_FAILURE() << bad << " loaded";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(bad.string()), std::string::npos) << e.what();
        }
    }
}

// More replacements in flight than the interrupt's list holds: each is still removed when it ends
// unused, and an interrupt removes those it lists.
TEST(Platform, EveryUnusedTemporaryFileIsRemovedEvenPastTheInterruptList) {
    if (qev_test::under_wine())
        GTEST_SKIP() << "wine lists a deleted file until its last handle closes (the wine checks interrupt a "
                        "real replacement instead)";
    TempDir d;
    qev_test::spit(d / "target", "old");
    {
        const platform::Destination at = platform::resolve_destination(d / "target", "yazılamadı");
        std::vector<std::unique_ptr<platform::TemporaryFile>> temporaries;
        for (int i = 0; i < 40; ++i) {
            temporaries.push_back(std::make_unique<platform::TemporaryFile>());
            ASSERT_TRUE(temporaries.back()->create(at, 0600, d / "target", "yazılamadı"));
        }
        ASSERT_EQ(qev_test::entries(d.path).size(), 41u);
        platform::remove_temporaries_in_flight();
        const size_t left = qev_test::entries(d.path).size();
        EXPECT_LT(left, 41u);
        EXPECT_GT(left, 1u);  // the list is bounded: the rest wait for their owners
        platform::TemporaryFile last;
        ASSERT_TRUE(last.create(at, 0600, d / "target", "yazılamadı"));
        platform::write_all(last.handle(), "new", d / "target");
        last.commit(at, d / "target", "yazılamadı");
    }
    EXPECT_EQ(qev_test::entries(d.path), std::vector<std::string>{"target"});
    EXPECT_EQ(qev_test::slurp(d / "target"), "new");
}

// What stands at a path, told apart without opening it, and absence told apart from failure.
TEST(Platform, DescribeTellsKindsLinksAndAbsence) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: FIFOs, /dev/null and link loops";
#else
    TempDir d;
    qev_test::spit(d / "file", "12345");
    ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0600), 0);
    fs::create_symlink("file", d / "link");
    fs::create_symlink("none", d / "dangling");
    fs::create_symlink("loop", d / "loop");
    platform::FileInfo info;
    ASSERT_EQ(platform::describe(d / "link", platform::Follow::Links, info), 0);
    EXPECT_EQ(info.kind, platform::FileKind::Regular);
    EXPECT_EQ(info.size, 5u);
    platform::FileInfo file;
    ASSERT_EQ(platform::describe(d / "file", platform::Follow::NoLinks, file), 0);
    EXPECT_TRUE(platform::same_file(info, file));
    ASSERT_EQ(platform::describe(d / "link", platform::Follow::NoLinks, info), 0);
    EXPECT_EQ(info.kind, platform::FileKind::Link);
    ASSERT_EQ(platform::describe(d / "fifo", platform::Follow::Links, info), 0);
    EXPECT_EQ(info.kind, platform::FileKind::Fifo);
    ASSERT_EQ(platform::describe("/dev/null", platform::Follow::Links, info), 0);
    EXPECT_EQ(info.kind, platform::FileKind::Device);
    EXPECT_EQ(platform::describe(d / "dangling", platform::Follow::Links, info), ENOENT);
    EXPECT_EQ(platform::describe(d / "loop", platform::Follow::Links, info), ELOOP);
    EXPECT_EQ(platform::describe(d / "file" / "below", platform::Follow::Links, info), ENOTDIR);
#endif
}

// An in-place rewrite's reservation leaves the old content readable, and putting it back after a longer
// rewrite restores the old file exactly.
TEST(Platform, AReservationAndAPutBackLeaveTheOldFile) {
    TempDir d;
    qev_test::spit(d / "nb", "old content");
    const platform::Destination at = platform::resolve_destination(d / "nb", "yazılamadı");
    ASSERT_TRUE(at.exists);
    EXPECT_FALSE(at.via_link);
    EXPECT_EQ(at.name, "nb");
    const platform::File f = platform::open_for_rewrite(at, d / "nb", "yazılamadı");
    const int reserved = platform::reserve(f.get(), 1 << 20);
#ifdef _WIN32
    if (reserved == EOPNOTSUPP) GTEST_SKIP() << "this system cannot reserve space in advance (wine)";
#endif
    ASSERT_EQ(reserved, 0);
    EXPECT_TRUE(qev_test::slurp(d / "nb").starts_with("old content"));
    platform::rewind(f.get(), d / "nb", "yazılamadı");
    platform::write_all(f.get(), std::string(1 << 20, 'x'), d / "nb");
    platform::put_back(f.get(), "old content", 1 << 20);
    EXPECT_EQ(qev_test::slurp(d / "nb"), "old content");
}
