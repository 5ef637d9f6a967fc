#include "run_fixtures.hpp"

#include <algorithm>

#include "qev_scoreboard/cli/args.hpp"
#include "qev_scoreboard/cli/handlers.hpp"
#include "qev_scoreboard/core/lines.hpp"
#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"

namespace qev_test {

Tree read_tree(const fs::path& root) {
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), root).generic_string();
        it->is_directory() ? void(tree.dirs.insert(rel)) : void(tree.files[rel] = slurp(it->path()));
    }
    return tree;
}

void write_tree(const Tree& tree, const fs::path& root) {
    fs::remove_all(root);
    fs::create_directories(root);
    for (const auto& dir : tree.dirs) fs::create_directories(root / dir);
    for (const auto& [rel, content] : tree.files) spit(root / rel, content);
}

bool is_temporary(const std::string& rel) { return fs::path(rel).filename().string().starts_with(".qev-"); }

State classify(const Tree& tree) {
    // A run's folder under yedek/ that holds a copy, not only temporary files or nothing.
    const auto holds_copy = [&](const std::string& dir) {
        const std::string prefix = dir + "/";
        const auto copy = [&](const std::string& p) {
            return p.starts_with(prefix) && p.find('/', prefix.size()) == std::string::npos && !is_temporary(p);
        };
        return std::any_of(tree.files.begin(), tree.files.end(), [&](const auto& f) { return copy(f.first); }) ||
               std::any_of(tree.dirs.begin(), tree.dirs.end(), copy);
    };
    State s;
    for (const auto& rel : tree.dirs) {
        const bool run_folder = rel.starts_with("yedek/") && rel.find('/', 6) == std::string::npos;
        if (is_temporary(rel) || (run_folder && !holds_copy(rel)))
            s.left.push_back(rel);
        else if (!rel.starts_with("yedek/"))
            s.dirs.insert(rel);
    }
    for (const auto& [rel, content] : tree.files) {
        if (is_temporary(rel))
            s.left.push_back(rel);
        else if (rel.starts_with("yedek/"))
            s.kept.insert({fs::path(rel).filename().string(), content});
        else
            s.files[rel] = rel == RECORD ? recorded_fingerprints(content) : content;
    }
    return s;
}

void copy_tree(const fs::path& from, const fs::path& to) {
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

void quietly(const std::function<void()>& run) {
    const qev_scoreboard::ScopedLineSink drop{qev_scoreboard::ScopedLineSink::Sink{}};
    run();
}

void run_init(const fs::path& ws, bool force) {
    qev_scoreboard::Args args;
    args.dir = ws.string();
    args.force = force;
    qev_scoreboard::cmd_init(args);
}

Packages::Packages() {
    old_package.version_text = "1.0.0";
    new_package.version_text = "1.1.0";
    old_package.registry = new_package.registry = {
        {"01", "nb_01_ingest.ipynb"}, {"02", "nb_02_transform.ipynb"}, {"03a", EDITED}, {"03b", EDITED},
        {"05", "nb_05_yeni.ipynb"},   {"06", "qev_pipeline.ipynb"}};
    spit(old_package.data_readme, "paket okuma notu\r\n");
    spit(new_package.data_readme, "yeni paket okuma notu\n");
    for (const std::string name : {"nb_01_ingest.ipynb", "nb_02_transform.ipynb", EDITED, "qev_pipeline.ipynb"}) {
        const std::string body = "{\"cells\": [], \"name\": \"" + name + "\"}\n";
        spit(old_package.notebooks_dir / name, body);
        spit(new_package.notebooks_dir / name, name == "qev_pipeline.ipynb" ? body : body + "{\"surum\": 2}\n");
    }
    spit(new_package.notebooks_dir / "nb_05_yeni.ipynb", "{\"cells\": [\"yeni\"]}\n");
}

void Packages::prepare_upgrade(const fs::path& ws) {
    {
        ScopedServices scope(old_package);
        quietly([&] { run_init(ws, false); });
    }
    spit(ws / EDITED, "{\"cells\": [{\"source\": \"donem = 202612\"}]}\n");
    spit(ws / README, "yeni paket okuma notu\n\nNot: Aralık verisi eksik.\n");
    const auto meta = [&](const std::string& season, const std::string& kod, const std::string& hash) {
        spit(ws / "seasons" / season / "meta" / ("adim_" + kod + ".json"),
             hash.empty() ? "{ bozuk" : "{\"kod\": \"" + kod + "\", \"nb_hash\": \"" + hash + "\", \"ek\": [1.50]}");
    };
    meta("2025", "02", "0123456789abcdef");
    meta("2025", "06", fingerprint_of(ws / "qev_pipeline.ipynb"));
    meta("2024", "02", "0123456789abcdef");
    meta("2024", "03a", "0123456789abcdef");
    meta("2024", "03b", "");
    fs::create_directories(ws / "seasons" / "2026");
    spit(ws / "seasons" / "2024" / "error_report.txt", "hata");
    spit(ws / "outputs" / "error_report.txt", "hata");
}

RunCase run_case(Scenario which, Packages& packages) {
    const auto upgrade = [&](const fs::path& ws) { packages.prepare_upgrade(ws); };
    switch (which) {
        case Scenario::InitFresh:
            return {"init (fresh)",
                    [](const fs::path& ws) { spit(ws / EDITED, "{\"kendi\": 1}"); },
                    [](const fs::path& ws) { run_init(ws, false); },
                    {EDITED}};
        case Scenario::InitUpgrade:
            return {"init (upgrade)", upgrade, [](const fs::path& ws) { run_init(ws, false); }, {EDITED, README}};
        case Scenario::InitForce:
            return {"init --force", upgrade, [](const fs::path& ws) { run_init(ws, true); }, {EDITED, README}};
        case Scenario::AutoSync:
            return {"auto-sync",
                    upgrade,
                    [](const fs::path& ws) { qev_scoreboard::_sync_notebooks(ws); },
                    {EDITED, README}};
        case Scenario::MetaRefresh:
            return {
                "meta refresh",
                upgrade,
                [](const fs::path& ws) {
                    qev_scoreboard::_update_meta_hashes(ws, {"nb_02_transform.ipynb", EDITED, "qev_pipeline.ipynb"});
                },
                {EDITED}};
    }
    return {};
}

bool Expectation::old_or_new(const std::string& p, const std::map<std::string, std::string>& now) const {
    const auto b = before.files.find(p), a = after.files.find(p), n = now.find(p);
    if (n == now.end()) return b == before.files.end() || a == after.files.end();
    return (b != before.files.end() && b->second == n->second) || (a != after.files.end() && a->second == n->second);
}

namespace {

std::set<std::string> paths_of(std::initializer_list<const std::map<std::string, std::string>*> all) {
    std::set<std::string> paths;
    for (const auto* files : all)
        for (const auto& [p, _] : *files) paths.insert(p);
    return paths;
}

}  // namespace

bool Expectation::done(const State& got, bool passed_over) const {
    // A meta file, or a seasons directory, that this user may not read is passed over by design: the run
    // goes on, and no later run of the same version looks at it again. So is a first record of installed
    // files that the db directory refuses. Only these.
    const auto excused = [&](const std::string& p) {
        return passed_over && (p.starts_with("seasons/") || (p == RECORD && !before.files.contains(p)));
    };
    for (const auto& p : paths_of({&before.files, &after.files, &got.files}))
        if (!excused(p) && (got.files.contains(p) != after.files.contains(p) ||
                            (got.files.contains(p) && got.files.at(p) != after.files.at(p))))
            return false;
    return true;
}

std::vector<std::string> Expectation::wrong_when_stopped(const State& got, bool passed_over) const {
    std::vector<std::string> wrong;
    for (const auto& p : paths_of({&before.files, &after.files, &got.files}))
        if (!old_or_new(p, got.files)) wrong.push_back(p + " is neither its old nor its new state");
    const auto stamp = got.files.find(STAMP), old_stamp = before.files.find(STAMP);
    const bool stamped = stamp != got.files.end() && stamp->second == after.files.at(STAMP) &&
                         (old_stamp == before.files.end() || old_stamp->second != stamp->second);
    if (stamped && !done(got, passed_over)) wrong.push_back("stamped before all it stands for was done");
    for (const auto& rel : edited) {
        const std::string& mine = before.files.at(rel);
        if (!(got.files.contains(rel) && got.files.at(rel) == mine) &&
            !got.kept.contains({fs::path(rel).filename().string(), mine}))
            wrong.push_back("the analyst's " + rel + " is lost");
    }
    return wrong;
}

std::vector<std::string> Expectation::wrong_after_rerun(const State& clean, bool passed_over) const {
    std::vector<std::string> wrong;
    if (!clean.left.empty()) wrong.push_back("left after a clean run: " + clean.left.front());
    if (clean.dirs != after.dirs) wrong.push_back("the clean run's directories differ");
    for (const auto& p : paths_of({&before.files, &after.files, &clean.files})) {
        const auto c = clean.files.find(p), a = after.files.find(p), b = before.files.find(p);
        const auto same = [&](auto x, const auto& xs) {
            return (c == clean.files.end()) == (x == xs.end()) && (c == clean.files.end() || c->second == x->second);
        };
        if (!same(a, after.files) && !(passed_over && p.starts_with("seasons/") && same(b, before.files)))
            wrong.push_back(p + " differs from a clean run's");
    }
    for (const auto& k : after.kept)
        if (!clean.kept.contains(k)) wrong.push_back("the kept copy of " + k.first + " is missing");
    for (const auto& [name, content] : clean.kept)  // whatever run kept it, it is what the directory held
        if (std::none_of(before.files.begin(), before.files.end(),
                         [&](const auto& f) { return fs::path(f.first).filename() == name && f.second == content; }))
            wrong.push_back("a kept copy of " + name + " holds what the directory never held");
    return wrong;
}

}  // namespace qev_test
