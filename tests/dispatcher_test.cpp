// The command line as a user meets it: help, version, usage errors and exit statuses.
#include "qev_scoreboard/cli/dispatcher.hpp"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdlib>

#include "support.hpp"

using namespace qev_test;

namespace {

const std::string VERSION_LINE = "qev_scoreboard " + PROJECT_VERSION + "\n";

TEST(Dispatcher, NoSubCommandPrintsMainHelp) {
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"--dir", "/nonexistent/x"}}) {
        RunResult r = run_cli(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        for (const char* text :
             {"qev-scoreboard", "QEV Scoreboard Pipeline", "--dir", "Çalışma dizini (varsayılan: bulunduğunuz dizin)",
              "Çalışma dizinini hazırla", "Durum kontrolü", "Versiyon bilgisi", "Kurulum doğrulama"})
            EXPECT_NE(r.out.find(text), std::string::npos) << text;
    }
}

TEST(Dispatcher, HelpAtEveryLevel) {
    RunResult main_help = run_cli({"--help"});
    EXPECT_EQ(main_help.status, 0);
    EXPECT_EQ(main_help.out, run_cli({}).out);
    EXPECT_EQ(run_cli({"-h"}).out, main_help.out);
    EXPECT_EQ(run_cli({"--he"}).out, main_help.out);

    RunResult init_help = run_cli({"init", "-h"});
    EXPECT_EQ(init_help.status, 0);
    EXPECT_NE(init_help.out.find("--force"), std::string::npos);
    EXPECT_NE(init_help.out.find("Hash kontrolü yapma, tüm dosyaları üzerine yaz"), std::string::npos);
    // A sub-command's help text shows only in the main list.
    EXPECT_EQ(init_help.out.find("Çalışma dizinini hazırla"), std::string::npos);
    EXPECT_EQ(init_help.out.find("--dir"), std::string::npos);

    RunResult verify_help = run_cli({"verify", "--help"});
    EXPECT_EQ(verify_help.status, 0);
    EXPECT_NE(verify_help.out.find("--db"), std::string::npos);
    EXPECT_NE(verify_help.out.find("DB yolu"), std::string::npos);
    for (const char* sc : {"status", "version"}) EXPECT_EQ(run_cli({sc, "--help"}).status, 0) << sc;
}

TEST(Dispatcher, VersionIgnoresDir) {
    EXPECT_EQ(run_cli({"version"}).out, VERSION_LINE);
    RunResult r = run_cli({"--dir", "/does/not/exist", "version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, VERSION_LINE);
    EXPECT_EQ(run_cli({"--dir=/x", "version"}).out, VERSION_LINE);
    EXPECT_EQ(run_cli({"--d", "/x", "version"}).out, VERSION_LINE);
    EXPECT_FALSE(fs::exists("/does/not/exist"));
}

TEST(Dispatcher, UsageErrorsGoToStderrWithStatus2) {
    TempDir ws;
    const std::vector<std::vector<std::string>> bad = {
        {"bogus"},                            // unknown sub-command
        {"ini"},                              // sub-commands are not abbreviated
        {"init", "--dir", ws.path.string()},  // --dir belongs before the sub-command
        {"--force", "init"},                  // --force belongs after it
        {"--dir"},                            // missing value
        {"verify", "--db"},                   // missing value
        {"--dir", "--force", "init"},         // a value that is an option
        {"init", "extra"},                    // leftover word
        {"version", "x", "y"},                // leftover words
        {"--bogus"},                          // unknown option
        {"-x", "version"},                    // unknown short option
        {"status", "--force"},                // option of another sub-command
        {"verify", "--db=x", "--dbx=y"},      // unknown option after a good one
    };
    for (const auto& args : bad) {
        RunResult r = run_cli(args, ws.path);
        std::string line;
        for (const auto& a : args) line += a + " ";
        EXPECT_EQ(r.status, 2) << line;
        EXPECT_EQ(r.out, "") << line;
        EXPECT_NE(r.err.find("kullanım: qev-scoreboard"), std::string::npos) << line;
        EXPECT_NE(r.err.find("hata: "), std::string::npos) << line;
    }
    EXPECT_TRUE(fs::is_empty(ws.path));
}

TEST(Dispatcher, AmbiguousPrefixIsNamed) {
    // "--h" is unique in the main parser (only --help starts with h), "--" alone ends options.
    RunResult r = run_cli({"verify", "--d", "x"});
    EXPECT_EQ(r.status, 0);  // --d is --db: verify's only other option is --help
    RunResult bad = run_cli({"--zz"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--zz"), std::string::npos);
    // A flag given a value is named as typed, not as a short option nobody typed.
    for (const auto& [args, named] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--help=x"}, "--help bir değer almaz"},
             {{"init", "--h=1"}, "--help bir değer almaz"},
             {{"init", "--force=x"}, "--force bir değer almaz"},
             {{"-q"}, "tanınmayan seçenek: -q"}}) {
        RunResult r = run_cli(args);
        EXPECT_EQ(r.status, 2) << named;
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
    }
}

TEST(Dispatcher, HostileArgumentsDoNotCrash) {
    const std::string invalid_utf8 = "\xff\xfe\xc3";
#ifdef _WIN32
    const std::string long_word(30000, 'a');  // a whole command line holds at most 32767 characters there
#else
    const std::string long_word(120000, 'a');  // just under the kernel's per-argument limit
#endif
    for (const auto& args :
         std::vector<std::vector<std::string>>{{invalid_utf8},
                                               {"--" + invalid_utf8},
                                               {"--dir", invalid_utf8, "version"},
                                               {long_word},
                                               {"--" + long_word},
                                               {"verify", "--db=" + long_word + invalid_utf8, "extra"}}) {
        RunResult r = run_cli(args);
        EXPECT_TRUE(r.status == 0 || r.status == 2) << r.status;
    }
}

TEST(Dispatcher, VerifyNeverChangesExitStatus) {
    TempDir ws;
    // A database path that does not exist, and one that is not a database: findings, not failures.
    spit(ws / "bad.duckdb", "not a database");
    for (const char* db : {"missing.duckdb", "bad.duckdb"}) {
        RunResult r = run_cli({"verify", "--db", db}, ws.path);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(db), std::string::npos);
    }
    RunResult ok = run_cli({"verify"}, ws.path);
    EXPECT_EQ(ok.status, 0);
    EXPECT_NE(ok.out.find("[OK]   Notebook dizini"), std::string::npos) << ok.out;
    EXPECT_NE(ok.out.find("[OK]   Adım kaydı"), std::string::npos) << ok.out;
    EXPECT_NE(ok.out.find("[OK]   Veritabanı motoru: DuckDB v1.4.4"), std::string::npos) << ok.out;
    EXPECT_NE(ok.out.find("db/qev.duckdb YOK"), std::string::npos) << ok.out;
}

TEST(Dispatcher, OutputThatCannotBeWrittenIsAFailure) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: no full device (/dev/full) to write to";
#else
    // A full disk behind standard output: the run must not report success.
    for (const char* args : {"version", "--help"}) {
        const std::string cmd = std::string("'") + QEV_SCOREBOARD_EXE + "' " + args + " >/dev/full 2>/dev/null";
        const int rc = std::system(cmd.c_str());
        ASSERT_TRUE(WIFEXITED(rc)) << args;
        EXPECT_EQ(WEXITSTATUS(rc), 1) << args;
    }
#endif
}

}  // namespace

namespace {

// Runs the dispatcher in-process, with the package services a test controls.
int run_in_process(std::vector<std::string> words) {
    words.insert(words.begin(), "qev-scoreboard");
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return qev_scoreboard::run_main(static_cast<int>(words.size()), argv.data());
}

TEST(Dispatcher, VerifyGetsTheDbTextExactlyAsTyped) {
    FakeServices fake;
    ScopedServices scoped(fake);
    CaptureStdout out;
    EXPECT_EQ(run_in_process({"--dir", "/elsewhere", "verify"}), 0);
    EXPECT_EQ(run_in_process({"verify", "--db", "a b/../c.duckdb"}), 0);
    EXPECT_EQ(run_in_process({"verify", "--db=x=y"}), 0);
    EXPECT_EQ(run_in_process({"verify", "--d", "-5"}), 0);
    EXPECT_EQ(run_in_process({"verify", "--db="}), 0);
    out.finish();
    EXPECT_EQ(fake.verify_calls, (std::vector<std::string>{"db/qev.duckdb", "a b/../c.duckdb", "x=y", "-5", ""}));
}

TEST(Dispatcher, EmptyDirMeansTheCurrentDirectory) {
    TempDir ws;
    ASSERT_EQ(run_cli({"init"}, ws.path).status, 0);
    for (const char* form : {"--dir=", ""}) {
        std::vector<std::string> args = std::string(form).empty() ? std::vector<std::string>{"--dir", "", "status"}
                                                                  : std::vector<std::string>{form, "status"};
        RunResult r = run_cli(args, ws.path);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.rfind("QEV Scoreboard v" + PROJECT_VERSION +
                                  " — status\nÇalışma dizini: .\n\n  [external_data]\n"
                                  "    kik_data_ham_csv: BOŞ\n",
                              0),
                  0u)
            << r.out;
    }
}

}  // namespace
