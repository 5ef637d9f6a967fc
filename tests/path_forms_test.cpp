// Paths as users type them and names as the file system compares them, through the platform layer's one
// conversion of text to a path; and runs beside other runs and programs: a live run's temporary file and
// folder left alone, a target in use named so whatever its holder shares, directory locks taken in turn.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "qev_scoreboard/platform/destination.hpp"
#include "qev_scoreboard/platform/file_content.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/held_directory.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/platform/temporary_file.hpp"
#include "support.hpp"
#ifdef _WIN32
#include "qev_scoreboard/platform/win/windows.hpp"
#endif

namespace fs = std::filesystem;
namespace platform = qev_scoreboard::platform;
using qev_scoreboard::FileError;
using qev_test::TempDir;

namespace {

struct PathForm {
    std::string typed;
    std::string native;   // the system's form of it with "outputs/json" joined to it, as UTF-8
    std::string printed;  // as reports print it
    std::string refused;  // the reason, when the form is refused
};

}  // namespace

// Every form of a work directory a user types: the path it becomes, names joined to it, how it is
// printed, and which forms are refused before anything is made.
TEST(PathForms, EachTypedFormBecomesThePathTheSystemKeeps) {
    const std::string space = "\"space \" adı boşlukla bitiyor, Windows böyle bir adı tutamaz";
    const std::string dot = "\"dot.\" adı noktayla bitiyor, Windows böyle bir adı tutamaz";
#ifdef _WIN32
    const std::vector<PathForm> forms = {
        // Verbatim: the system turns no "/" into "\", so every name joined to it must come with "\".
        {R"(\\?\C:\xl\ws)", R"(\\?\C:\xl\ws\outputs\json)", R"(C:\xl\ws)", ""},
        {R"(\\?\C:\xl\kept space )", R"(\\?\C:\xl\kept space \outputs\json)", R"(C:\xl\kept space )", ""},
        {R"(\\?\UNC\sunucu\paylaşım\ws)", R"(\\?\UNC\sunucu\paylaşım\ws\outputs\json)", R"(\\sunucu\paylaşım\ws)", ""},
        {R"(\\.\C:\dev\ws)", R"(\\.\C:\dev\ws\outputs\json)", R"(\\.\C:\dev\ws)", ""},
        {R"(\\sunucu\paylaşım\ws)", R"(\\sunucu\paylaşım\ws\outputs\json)", R"(\\sunucu\paylaşım\ws)", ""},
        {"D:dws", R"(D:dws\outputs\json)", "D:dws", ""},
        {"C:/ileri/eğik/ws", R"(C:\ileri\eğik\ws\outputs\json)", R"(C:\ileri\eğik\ws)", ""},
        {R"(C:\Users\Gülşen\Çalışma Alanı)", R"(C:\Users\Gülşen\Çalışma Alanı\outputs\json)",
         R"(C:\Users\Gülşen\Çalışma Alanı)", ""},
        {R"(..\yukarı\.)", R"(..\yukarı\.\outputs\json)", R"(..\yukarı\.)", ""},
        {R"(C:\pf\space )", R"(C:\pf\space \outputs\json)", R"(C:\pf\space )", space},
        {R"(C:\pf\dot.\ws)", R"(C:\pf\dot.\ws\outputs\json)", R"(C:\pf\dot.\ws)", dot},
        {"C:/pf/dot./ws", R"(C:\pf\dot.\ws\outputs\json)", R"(C:\pf\dot.\ws)", dot},
        {R"(\\sunucu\dot.\ws)", R"(\\sunucu\dot.\ws\outputs\json)", R"(\\sunucu\dot.\ws)", dot},
    };
#else
    // Bytes as they are: a "\" is part of a name, and a name may end as it likes.
    const std::vector<PathForm> forms = {
        {"/srv/ws", "/srv/ws/outputs/json", "/srv/ws", ""},
        {R"(C:\xl\ws)", R"(C:\xl\ws/outputs/json)", R"(C:\xl\ws)", ""},
        {"/srv/space /dot.", "/srv/space /dot./outputs/json", "/srv/space /dot.", ""},
        {"/home/Gülşen/Çalışma Alanı", "/home/Gülşen/Çalışma Alanı/outputs/json", "/home/Gülşen/Çalışma Alanı", ""},
    };
#endif
    for (const PathForm& form : forms) {
        SCOPED_TRACE(form.typed);
        const fs::path path = platform::path_from_utf8(form.typed);
        const fs::path joined = path / platform::path_from_utf8("outputs/json");
        EXPECT_EQ(platform::path_to_library_text(joined), form.native);
        EXPECT_EQ(platform::path_to_utf8(path), form.printed);
        std::optional<std::string> error;
        try {
            platform::require_keepable_names(joined, "dizin oluşturulamadı");
        } catch (const FileError& e) {
            error = e.what();
            EXPECT_EQ(e.code().value(), EINVAL);
        }
        if (form.refused.empty())
            EXPECT_FALSE(error) << *error;
        else
            EXPECT_EQ(error, form.printed + "\\outputs\\json: dizin oluşturulamadı: " + form.refused);
    }
#ifdef _WIN32
    // What the engine joins relative names of its own to, "/" and all: a verbatim path only where the
    // plain form would reach another directory.
    const std::vector<std::pair<std::string, std::string>> joinable = {
        {R"(\\?\C:\xl\ws)", R"(C:\xl\ws)"},
        {R"(\\?\UNC\sunucu\paylaşım\ws)", R"(\\sunucu\paylaşım\ws)"},
        {R"(\\?\C:\xl\kept space )", R"(\\?\C:\xl\kept space )"},
        {R"(\\.\C:\dev\ws)", R"(\\.\C:\dev\ws)"},
        {"C:/ileri/ws", R"(C:\ileri\ws)"},
    };
    for (const auto& [typed, text] : joinable)
        EXPECT_EQ(platform::path_to_joinable_text(platform::path_from_utf8(typed)), text) << typed;
#endif
}

// A path resolved once stays the path first meant wherever the process goes next.
TEST(PathForms, AbsolutePathsAreResolvedOnceAsTheSystemResolvesThem) {
    TempDir d;
#ifdef _WIN32
    // A drive's own current directory, as a shell keeps it: not the process's, on another drive.
    ASSERT_TRUE(::SetEnvironmentVariableW(L"=Q:", L"Q:\\alt\\dizin"));
    EXPECT_EQ(platform::absolute_path(platform::path_from_utf8("Q:dws"), "okunamadı"),
              platform::path_from_utf8(R"(Q:\alt\dizin\dws)"));
    ::SetEnvironmentVariableW(L"=Q:", nullptr);
    EXPECT_EQ(platform::absolute_path(platform::path_from_utf8("Q:dws"), "okunamadı"),
              platform::path_from_utf8(R"(Q:\dws)"));
    EXPECT_EQ(platform::absolute_path(platform::path_from_utf8(R"(\\?\C:\a\..\b )"), "okunamadı").native(),
              platform::path_from_utf8(R"(\\?\C:\a\..\b )").native());
    EXPECT_EQ(platform::absolute_path(platform::path_from_utf8(R"(C:/a/./b/../c)"), "okunamadı").native(),
              platform::path_from_utf8(R"(C:\a\c)").native());
    try {
        platform::absolute_path(platform::path_from_utf8(R"(C:\a\b.)"), "okunamadı");
        ADD_FAILURE() << "a name the system would trim was resolved";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  R"(C:\a\b.: okunamadı: "b." adı noktayla bitiyor, Windows böyle bir adı tutamaz)");
    }
#endif
    const fs::path here = platform::current_directory();
    EXPECT_EQ(platform::absolute_path("ws", "okunamadı"), here / "ws");
    EXPECT_EQ(platform::absolute_path(d.path, "okunamadı"), d.path);
}

// Error reports and the like are found by the name the file system gives them, not by their bytes.
TEST(PathForms, EntryNamesCompareAsTheFileSystemComparesThem) {
    struct Names {
        std::string a, b;
        bool same_on_windows;
    };
    const std::vector<Names> cases = {
        {"error_report.txt", "error_report.txt", true},
        {"error_report.txt", "Error_Report.TXT", true},
        {"rapor_ü.txt", "RAPOR_Ü.TXT", true},
        // The file system's own table, not the Turkish alphabet's: "i" and "İ" are two names.
        {"i.txt", "İ.txt", false},
        {"error_report.txt", "error_report.txt.bak", false},
        {"error_report.txt", "error_report_txt", false},
    };
    for (const Names& n : cases) {
        SCOPED_TRACE(n.a + " / " + n.b);
#ifdef _WIN32
        EXPECT_EQ(platform::same_entry_name(n.a, n.b), n.same_on_windows);
#else
        EXPECT_EQ(platform::same_entry_name(n.a, n.b), n.a == n.b);
#endif
    }
}

// Another run's clean-up of left-overs beside a file takes only what no live run holds: a killed run's
// temporary file goes, the temporary file being written now stays and still replaces its target.
TEST(PathForms, ACleanUpBesideALiveReplacementTakesOnlyTheKilledRunsFile) {
    TempDir d;
    qev_test::spit(d / "hedef.txt", "eski");
    qev_test::spit(d / ".qev-abcd1234", "öldürülmüş bir çalışmadan");
    // Read-only, as a replacement of a read-only file is before it takes the name.
    fs::permissions(d / ".qev-abcd1234", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const platform::Destination at = platform::resolve_destination(d / "hedef.txt", "yazılamadı");
    platform::TemporaryFile live;
    ASSERT_TRUE(live.create(at, 0666, d / "hedef.txt", "yazılamadı"));
    platform::write_all(live.handle(), "yeni", d / "hedef.txt");
    platform::flush_data(live.handle(), d / "hedef.txt");
    const platform::Destination other = platform::resolve_destination(d / "hedef.txt", "yazılamadı");
    platform::remove_left_over_temporaries(other);
    const std::vector<std::string> left = qev_test::entries(d.path);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_TRUE(left[0].starts_with(".qev-") && left[0] != ".qev-abcd1234") << left[0];
    EXPECT_EQ(left[1], "hedef.txt");
    live.commit(at, d / "hedef.txt", "yazılamadı");
    EXPECT_EQ(qev_test::entries(d.path), std::vector<std::string>{"hedef.txt"});
    EXPECT_EQ(qev_test::slurp(d / "hedef.txt"), "yeni");
}

#ifdef _WIN32
// A target another program holds open is in use whatever it shares: named so after a short wait, the
// target untouched and nothing left beside it. A directory in its place, which nobody holds, is not.
TEST(PathForms, ATargetInUseIsNamedSoWhateverItsHolderShares) {
    struct Holder {
        const char* name;
        DWORD share;  // 0: nobody holds it, and it is a directory
    };
    const Holder holders[] = {
        {"okumaya paylaşan", FILE_SHARE_READ},
        {"silmeye paylaşan", FILE_SHARE_READ | FILE_SHARE_DELETE},
        {"her şeyi paylaşan", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
        {"tutan yok, bir dizin", 0},
    };
    for (const Holder& holder : holders) {
        SCOPED_TRACE(holder.name);
        TempDir d;
        const fs::path target = d / "hedef.txt";
        HANDLE held = INVALID_HANDLE_VALUE;
        if (holder.share != 0) {
            qev_test::spit(target, "eski");
            held = ::CreateFileW(target.c_str(), GENERIC_READ, holder.share, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        } else {
            fs::create_directory(target);
        }
        std::optional<FileError> error;
        {
            const platform::Destination at = platform::resolve_destination(target, "yazılamadı");
            platform::TemporaryFile tmp;
            ASSERT_TRUE(tmp.create(at, 0666, target, "yazılamadı"));
            platform::write_all(tmp.handle(), "yeni", target);
            // As a replacement of a read-only package file is: that attribute must not keep it from going.
            ASSERT_EQ(platform::set_permissions(tmp.handle(), 0444), 0);
            try {
                tmp.commit(at, target, "yazılamadı");
            } catch (const FileError& e) {
                error.emplace(e);
            }
        }
        if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code().value(), holder.share != 0 ? EBUSY : EACCES);
        EXPECT_EQ(error->reason(), holder.share != 0 ? "başka bir program tarafından kullanılıyor"
                                                     : qev_scoreboard::errno_reason(EACCES));
        if (holder.share != 0) {
            EXPECT_EQ(qev_test::slurp(target), "eski");
        }
        EXPECT_EQ(qev_test::entries(d.path), std::vector<std::string>{"hedef.txt"});
    }
}
#endif

// The folders runs fill with kept copies: one run's alone while it holds it, removed by another only
// when a killed run left it with nothing but a temporary file; and the directory lock by which runs
// take turns, which leaves nothing behind.
TEST(PathForms, FoldersAndLocksOfRunsAtOnce) {
    TempDir d;
    for (const char* name : {"tutulan", "dolu", "terk"}) fs::create_directory(d / name);
    platform::File held = platform::hold_directory(d / "tutulan", "dizin oluşturulamadı");
    ASSERT_TRUE(held);
    EXPECT_FALSE(platform::hold_directory(d / "tutulan", "dizin oluşturulamadı")) << "held twice";
    EXPECT_FALSE(platform::hold_directory(d / "yok", "dizin oluşturulamadı"));
    platform::remove_abandoned_directory(d / "tutulan");
    EXPECT_TRUE(fs::is_directory(d / "tutulan")) << "another run's folder removed";
    platform::File full = platform::hold_directory(d / "dolu", "dizin oluşturulamadı");
    qev_test::spit(d / "dolu" / "nb_02.ipynb", "kopya");
    platform::remove_held_directory(full, d / "dolu");
    EXPECT_FALSE(full);
    qev_test::spit(d / "terk" / ".qev-abcd1234", "yarım");
    platform::remove_abandoned_directory(d / "terk");
    platform::remove_held_directory(held, d / "tutulan");
    EXPECT_EQ(qev_test::entries(d.path), std::vector<std::string>{"dolu"});
    EXPECT_EQ(qev_test::entries(d / "dolu"), std::vector<std::string>{"nb_02.ipynb"});

    std::atomic<int> turn{0};
    platform::File first = platform::lock_directory(d.path, "kilitlenemedi");
    std::thread second([&] {
        const platform::File mine = platform::lock_directory(d.path, "kilitlenemedi");
        turn = turn == 1 ? 2 : -1;
    });
    // Time for the second to take the lock wrongly; it must still be waiting.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(turn, 0);
    turn = 1;
    first.reset();
    second.join();
    EXPECT_EQ(turn, 2);
    EXPECT_EQ(qev_test::entries(d.path), std::vector<std::string>{"dolu"});
}
