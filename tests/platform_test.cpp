// The unix side of the platform layer: where Linux has a call of its own, the portable fallback that
// other systems take must give the same answer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <set>
#include <string>
#include <thread>

#include "qev_scoreboard/core/file_error.hpp"
#include "qev_scoreboard/platform/dynamic_library.hpp"
#include "qev_scoreboard/platform/random.hpp"
#include "qev_scoreboard/platform/self_location.hpp"
#include "qev_scoreboard/platform/unix/variants.hpp"
#include "qev_scoreboard/platform/working_directory.hpp"
#include "support.hpp"

namespace fs = std::filesystem;
namespace platform = qev_scoreboard::platform;
namespace variants = qev_scoreboard::platform::unix_variants;
using qev_test::TempDir;

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

TEST(Platform, SharedLibrariesLoadOrSayWhyNot) {
    EXPECT_EQ(platform::SharedLibrary::file_name("duckdb"), "libduckdb.so");
    platform::SharedLibrary libc = platform::SharedLibrary::open("libc.so.6");
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
