// The meta-hash refresh over 200 season directories x 60 step codes (15 notebooks, 4 steps each).
//   current:  every newest meta file already holds the fingerprint (the common re-init case)
//   stale:    all 60 newest meta files need rewriting
//   oldest:   only the lowest-sorting season holds meta files, so every code walks all 200 seasons
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "qev_scoreboard/services/registry.hpp"
#include "qev_scoreboard/services/services.hpp"
#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"

namespace {

using namespace qev_scoreboard;

constexpr int SEASONS = 200, NOTEBOOKS = 15, STEPS_PER_NOTEBOOK = 4;

// The installed package but for its data directory, whose registry names the benchmark's notebooks.
struct BenchPackage : PackageServices {
    fs::path data;
    StepRegistry registry;
    const PackageServices& pkg = package_services();
    fs::path data_dir() const override { return data; }
    bool verify_all(const std::string& db) const override { return pkg.verify_all(db); }
    std::string version() const override { return pkg.version(); }
};

void put(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

std::string meta_text(const std::string& kod, const std::string& hash) {
    return "{\n  \"kod\": \"" + kod +
           "\",\n  \"durum\": \"tamam\",\n  \"sure_sn\": 12.5,\n  \"satir\": 184467,\n"
           "  \"ciktilar\": [\n    \"tablo_" +
           kod + "\"\n  ],\n  \"nb_hash\": \"" + hash + "\"\n}";
}

struct Workspace {
    fs::path base;
    BenchPackage services;
    std::vector<std::string> notebooks;

    Workspace() {
        std::string tmpl = (fs::temp_directory_path() / "qev-bench-meta-XXXXXX").string();
        base = ::mkdtemp(tmpl.data());
        for (int n = 0; n < NOTEBOOKS; ++n) {
            notebooks.push_back("nb_" + std::to_string(10 + n) + ".ipynb");
            put(base / notebooks.back(), "{\"cells\": [" + std::to_string(n) + "]}");
            for (int s = 0; s < STEPS_PER_NOTEBOOK; ++s)
                services.registry.push_back({std::to_string(10 + n) + "_" + std::to_string(s), notebooks.back()});
        }
        for (int s = 0; s < SEASONS; ++s) fs::create_directories(season(s) / "meta");
        services.data = base / "package";
        std::string registry = "{";
        for (const StepRecord& step : services.registry)
            registry += (registry.size() > 1 ? ", \"" : "\"") + step.kod + "\": {\"nb\": \"" + step.nb + "\"}";
        put(services.data / "adim_registry.json", registry + "}");
        set_services(&services);
    }
    ~Workspace() {
        set_services(nullptr);
        fs::remove_all(base);
    }
    fs::path season(int s) const { return base / "seasons" / ("2010_" + std::to_string(1000 + s)); }
    // Writes every step's meta file into season `s`, with the current or a stale fingerprint.
    void fill(int s, bool current) const {
        for (const StepRecord& step : services.registry)
            put(season(s) / "meta" / ("adim_" + step.kod + ".json"),
                meta_text(step.kod, current ? _file_hash(base / step.nb) : "0000000000000000"));
    }
};

// Keeps the refresh's summary line out of the benchmark's report.
struct QuietStdout {
    int saved;
    QuietStdout() : saved((std::fflush(stdout), ::dup(1))) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        ::dup2(saved, 1);
        ::close(saved);
    }
};

void BM_RefreshCurrent(benchmark::State& state) {
    Workspace ws;
    for (int s = 0; s < SEASONS; ++s) ws.fill(s, true);
    for (auto _ : state) _update_meta_hashes(ws.base, ws.notebooks);
}

void BM_RefreshStale(benchmark::State& state) {
    Workspace ws;
    for (int s = 0; s < SEASONS; ++s) ws.fill(s, false);
    QuietStdout quiet;
    for (auto _ : state) {
        state.PauseTiming();
        ws.fill(SEASONS - 1, false);
        state.ResumeTiming();
        _update_meta_hashes(ws.base, ws.notebooks);
    }
}

void BM_RefreshOldestSeasonOnly(benchmark::State& state) {
    Workspace ws;
    ws.fill(0, true);
    for (auto _ : state) _update_meta_hashes(ws.base, ws.notebooks);
}

BENCHMARK(BM_RefreshCurrent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshStale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshOldestSeasonOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
