#include "support.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qev_test {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "qev-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only directories behind; make them writable so removal succeeds.
    for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path, ec);
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + p.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void spit(const fs::path& p, const std::string& content) {
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + p.string());
    out << content;
}

RunResult run_cli(const std::vector<std::string>& args, const fs::path& cwd) {
    TempDir io;
    const fs::path out_file = io / "out", err_file = io / "err";
    std::vector<std::string> words{QEV_SCOREBOARD_EXE};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("posix_spawn failed");
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    RunResult r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.out = slurp(out_file);
    r.err = slurp(err_file);
    return r;
}

fs::path build_data_dir() {
    return fs::path(QEV_SCOREBOARD_EXE).parent_path().parent_path() / "share" / "qev-scoreboard";
}

FakeServices::FakeServices() { fs::create_directories(notebooks_dir); }

fs::path FakeServices::data_dir() const {
    std::string text = "{";
    for (const auto& step : registry)
        text += (text.size() > 1 ? ", \"" : "\"") + step.kod + "\": {\"nb\": \"" + step.nb + "\"}";
    spit(root / "adim_registry.json", registry_text.value_or(text + "}"));
    return root.path;
}

CaptureStdout::CaptureStdout() {
    std::fflush(stdout);
    char tmpl[] = "/tmp/qev-stdout-XXXXXX";
    int fd = ::mkstemp(tmpl);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    file_ = tmpl;
    saved_fd_ = ::dup(1);
    ::dup2(fd, 1);
    ::close(fd);
}

std::string CaptureStdout::finish() {
    if (done_) return {};
    std::fflush(stdout);
    ::dup2(saved_fd_, 1);
    ::close(saved_fd_);
    done_ = true;
    std::string text = slurp(file_);
    fs::remove(file_);
    return text;
}

CaptureStdout::~CaptureStdout() { finish(); }

}  // namespace qev_test
