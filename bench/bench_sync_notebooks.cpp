// The auto-sync on a work directory that is already current: outside callers make this call on every
// start, so it must stay far below a millisecond. Uses the installed package's services, as they do.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "qev_scoreboard/qev_scoreboard.h"
#include "qev_scoreboard/qev_scoreboard.hpp"
#include "qev_scoreboard/services/services.hpp"
#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"

namespace fs = std::filesystem;

namespace {

// A work directory whose stamp names the current version.
struct CurrentWorkDir {
    fs::path path;
    CurrentWorkDir() {
        std::string tmpl = (fs::temp_directory_path() / "qev-bench-sync-XXXXXX").string();
        path = ::mkdtemp(tmpl.data());
        fs::create_directories(path / "db");
        qev_scoreboard::write_version_stamp(path, qev_scoreboard::services().version());
    }
    ~CurrentWorkDir() { fs::remove_all(path); }
};

void BM_SyncNotebooksCurrent(benchmark::State& state) {
    CurrentWorkDir ws;
    for (auto _ : state) qev_scoreboard::_sync_notebooks(ws.path);
}
BENCHMARK(BM_SyncNotebooksCurrent);

void BM_SyncNotebooksCurrentThroughC(benchmark::State& state) {
    CurrentWorkDir ws;
    const std::string dir = ws.path.string();
    for (auto _ : state) {
        if (qev_scoreboard_sync_notebooks(dir.c_str()) != 0) state.SkipWithError(qev_scoreboard_last_error());
    }
}
BENCHMARK(BM_SyncNotebooksCurrentThroughC);

}  // namespace

BENCHMARK_MAIN();
