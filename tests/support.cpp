#include "support.hpp"

#include <nlohmann/json.hpp>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"

namespace qev_test {

namespace {

// A name of its own in the system's temporary directory, created here.
fs::path make_unique_directory(const std::string& prefix) {
    static std::mt19937_64 rng{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(rng()));
        const fs::path p = fs::temp_directory_path() / (prefix + suffix);
        if (fs::create_directory(p)) {
            fs::permissions(p, fs::perms::owner_all);  // as private as mkdtemp makes its directories
            return p;
        }
    }
    throw std::runtime_error("no fresh temporary directory");
}

}  // namespace

bool running_as_root() {
#ifdef _WIN32
    return false;  // nobody writes a read-only file there without first clearing its attribute
#else
    return ::geteuid() == 0;
#endif
}

fs::path utf8_path(std::string_view text) { return qev_scoreboard::platform::path_from_utf8(text); }

std::string shown(std::string path) {
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

bool under_wine() {
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

bool can_make_symlinks([[maybe_unused]] const fs::path& dir) {
#ifndef _WIN32
    return true;
#endif
    std::error_code ec;
    fs::create_symlink("qev-probe-target", dir / "qev-probe-link", ec);
    if (ec) return false;
    fs::remove(dir / "qev-probe-link");
    return true;
}

TempDir::TempDir() : path(make_unique_directory("qev-test-")) {}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only directories behind; make them writable so removal succeeds.
    for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
#ifdef _WIN32
        // There a read-only file refuses deletion too.
        else if (!it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
#endif
    }
    fs::remove_all(path, ec);
}

std::string recorded_fingerprints(const std::string& text) {
    try {
        const nlohmann::json record = nlohmann::json::parse(text);
        if (!record.is_object()) return text;
        nlohmann::json out = nlohmann::json::object();
        for (const auto& [rel, entry] : record.items()) out[rel] = entry.is_string() ? entry : entry.at("fingerprint");
        return out.dump();
    } catch (const nlohmann::json::exception&) {
        return text;
    }
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
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(utf8_text(e.path().filename().u8string()));
    std::sort(names.begin(), names.end());
    return names;
}

void spit(const fs::path& p, const std::string& content) {
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + p.string());
    out << content;
}

#ifdef _WIN32
namespace {

// One argument as the C runtime's parser splits the command line again.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

HANDLE inheritable(const fs::path& p, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE h = ::CreateFileW(p.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + p.string());
    return h;
}

}  // namespace

fs::path scoreboard_exe() {
    std::wstring self(32768, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    return fs::path(self).parent_path() / "qev-scoreboard.exe";
}

RunResult run_program(const fs::path& exe, const std::vector<std::string>& args, const fs::path& cwd) {
    TempDir io;
    const fs::path out_file = io / "out", err_file = io / "err";
    std::wstring line = quoted(exe.wstring());
    for (const auto& a : args) line += L" " + quoted(qev_scoreboard::platform::win::widen(a));

    HANDLE in = inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = inheritable(out_file, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = inheritable(err_file, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    BOOL started = FALSE;
    DWORD why = 0;
    // Wine now and then fails to start a process under load with an internal error; trying again is
    // what a user would do, and says nothing about the program.
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        started = ::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   cwd.empty() ? nullptr : cwd.c_str(), &si, &pi);
        why = started ? 0 : ::GetLastError();
        if (!started && why != ERROR_INTERNAL_ERROR) break;
    }
    ::CloseHandle(in);
    ::CloseHandle(out);
    ::CloseHandle(err);
    if (!started) throw std::runtime_error("CreateProcessW failed: " + std::to_string(why));
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    RunResult r;
    r.status = static_cast<int>(code);
    r.out = slurp(out_file);
    r.err = slurp(err_file);
    return r;
}
#else
fs::path scoreboard_exe() { return QEV_SCOREBOARD_EXE; }

RunResult run_program(const fs::path& exe, const std::vector<std::string>& args, const fs::path& cwd) {
    TempDir io;
    const fs::path out_file = io / "out", err_file = io / "err";
    std::vector<std::string> words{exe.string()};
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
#endif

RunResult run_cli(const std::vector<std::string>& args, const fs::path& cwd) {
    return run_program(scoreboard_exe(), args, cwd);
}

fs::path build_data_dir() { return scoreboard_exe().parent_path().parent_path() / "share" / "qev-scoreboard"; }

FakeServices::FakeServices() { fs::create_directories(notebooks_dir); }

fs::path FakeServices::data_dir() const {
    std::string text = "{";
    for (const auto& step : registry)
        text += (text.size() > 1 ? ", \"" : "\"") + step.kod + "\": {\"nb\": \"" + step.nb + "\"}";
    // Written only when it changes: runs in other processes may be reading it.
    const fs::path file = root / "adim_registry.json";
    const std::string wanted = registry_text.value_or(text + "}");
    if (!fs::exists(file) || slurp(file) != wanted) spit(file, wanted);
    return root.path;
}

CaptureStdout::CaptureStdout() : dir_(std::make_unique<TempDir>()) {
    std::fflush(stdout);
    file_ = *dir_ / "stdout";
#ifdef _WIN32
    // The C runtime's dup2 onto descriptor 1 also moves the system's standard output handle.
    std::FILE* f = ::_wfopen(file_.c_str(), L"wb");
#else
    std::FILE* f = std::fopen(file_.c_str(), "wb");
#endif
    if (!f) throw std::runtime_error("cannot create " + file_.string());
    saved_fd_ = ::dup(1);
    ::dup2(::fileno(f), 1);
    std::fclose(f);
}

std::string CaptureStdout::finish() {
    if (done_) return {};
    std::fflush(stdout);
    ::dup2(saved_fd_, 1);
    ::close(saved_fd_);
    done_ = true;
    std::string text = slurp(file_);
    dir_.reset();
    return text;
}

CaptureStdout::~CaptureStdout() { finish(); }

}  // namespace qev_test
