// The C interface: every C++ failure becomes a non-zero status and a description kept per thread, with
// the errno value, path and reason apart so that callers can map it onto their own error types.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "qev_scoreboard/cli/status_report.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/json_writer.hpp"
#include "qev_scoreboard/core/lines.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/qev_scoreboard.h"
#include "qev_scoreboard/qev_scoreboard.hpp"
#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/stop.hpp"

namespace {

thread_local std::string g_message;
thread_local std::string g_path;
thread_local std::string g_reason;
thread_local const char* g_last_error = "";
thread_local const char* g_last_path = "";
thread_local const char* g_last_reason = "";
thread_local int g_last_errno = 0;
thread_local std::vector<std::string> g_kept;

void clear() noexcept {
    g_last_error = g_last_path = g_last_reason = "";
    g_last_errno = 0;
}

// `text`, `reason`: static strings, so that a failure to allocate can still be reported.
void fail(const char* text, int err, const char* reason) noexcept {
    g_last_error = text;
    g_last_errno = err;
    g_last_reason = reason;
    g_last_path = "";
}

// The errno value behind `code`, or 0 when it is no errno value.
int errno_of(const std::error_code& code) noexcept {
    return code.category() == std::generic_category() || code.category() == std::system_category() ? code.value() : 0;
}

void fail(const std::exception& e) noexcept {
    try {
        clear();
        g_message = e.what();
        g_last_error = g_message.c_str();
        if (const auto* fe = dynamic_cast<const qev_scoreboard::FileError*>(&e)) {
            g_last_errno = errno_of(fe->code());
            g_path = qev_scoreboard::platform::path_to_utf8(fe->path1());
            g_reason = fe->reason();
        } else if (const auto* se = dynamic_cast<const std::system_error*>(&e); se != nullptr && errno_of(se->code())) {
            g_last_errno = se->code().value();
            const auto* fse = dynamic_cast<const std::filesystem::filesystem_error*>(&e);
            g_path = fse != nullptr ? qev_scoreboard::platform::path_to_utf8(fse->path1()) : std::string();
            g_reason = qev_scoreboard::errno_reason(g_last_errno);
        } else if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
            fail("qev_scoreboard: bellek yetersiz", ENOMEM, "bellek yetersiz");
            return;
        } else {
            return;  // a failure with no errno value: the description alone
        }
        g_last_path = g_path.c_str();
        g_last_reason = g_reason.c_str();
    } catch (...) {
        fail("qev_scoreboard: hata iletisi için bellek yetersiz", ENOMEM, "bellek yetersiz");
    }
}

int sync(const char* work_dir, const char* missing_dir_text, const qev_scoreboard::ScopedLineSink::Sink* sink,
         const std::function<bool()>* stop) {
    clear();
    g_kept.clear();
    if (work_dir == nullptr || *work_dir == '\0') {
        fail(missing_dir_text, EINVAL, "çalışma dizini verilmedi");
        return 1;
    }
    try {
        const qev_scoreboard::ScopedStopCheck checked(stop != nullptr ? *stop : std::function<bool()>());
        const auto run = [&] {
            qev_scoreboard::sync_notebooks(qev_scoreboard::platform::path_from_utf8(work_dir), &g_kept);
        };
        if (sink != nullptr) {
            const qev_scoreboard::ScopedLineSink scope(*sink);
            run();
        } else {
            run();
        }
        return 0;
    } catch (const std::exception& e) {
        fail(e);
    } catch (...) {
        fail("qev_scoreboard_sync_notebooks: bilinmeyen hata", 0, "");
    }
    return 1;
}

// A copy of `text` the caller releases with qev_scoreboard_free.
char* to_caller(const std::string& text) {
    char* out = static_cast<char*>(std::malloc(text.size() + 1));
    if (out == nullptr) throw std::bad_alloc();
    std::memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

// The status report on `work_dir`, collected once, in the form `render` gives it; nullptr on failure.
template <typename Render>
char* status(const char* work_dir, const char* missing_dir_text, Render render) noexcept {
    clear();
    if (work_dir == nullptr || *work_dir == '\0') {
        fail(missing_dir_text, EINVAL, "çalışma dizini verilmedi");
        return nullptr;
    }
    try {
        return to_caller(render(qev_scoreboard::collect_status_data(std::string(work_dir))));
    } catch (const std::exception& e) {
        fail(e);
    } catch (...) {
        fail("qev_scoreboard_status: bilinmeyen hata", 0, "");
    }
    return nullptr;
}

}  // namespace

extern "C" char* qev_scoreboard_status_json(const char* work_dir) {
    return status(work_dir, "qev_scoreboard_status_json: çalışma dizini verilmedi",
                  [](const qev_scoreboard::StatusReport& r) { return qev_scoreboard::status_json(r); });
}

extern "C" char* qev_scoreboard_status_report(const char* work_dir) {
    return status(work_dir, "qev_scoreboard_status_report: çalışma dizini verilmedi",
                  [](const qev_scoreboard::StatusReport& r) {
                      std::string out;
                      qev_scoreboard::JsonWriter w(out);
                      w.begin_object(qev_scoreboard::JsonWriter::Layout::Inline);
                      w.key("data");
                      w.raw(qev_scoreboard::status_json(r));
                      w.key("text");
                      w.string(qev_scoreboard::status_text(r));
                      w.key("html");
                      w.string(qev_scoreboard::status_html(r));
                      w.end_object();
                      return out + "\n";
                  });
}

extern "C" void qev_scoreboard_free(void* p) { std::free(p); }

extern "C" int qev_scoreboard_sync_notebooks(const char* work_dir) {
    const int status = sync(work_dir, "qev_scoreboard_sync_notebooks: çalışma dizini verilmedi", nullptr, nullptr);
    // The caller's own output (Python's, say) is buffered apart from ours: flush so lines keep their order.
    std::fflush(stdout);
    return status;
}

extern "C" int qev_scoreboard_sync_notebooks_cb(const char* work_dir, qev_scoreboard_line_fn line, void* ctx) {
    // Built before the call, so that a failure to allocate it is a failure of the call, not a lost line.
    qev_scoreboard::ScopedLineSink::Sink sink;
    try {
        if (line != nullptr) sink = [line, ctx](const std::string& text) { line(text.c_str(), ctx); };
    } catch (...) {
        clear();
        fail("qev_scoreboard_sync_notebooks_cb: bellek yetersiz", ENOMEM, "bellek yetersiz");
        return 1;
    }
    return sync(work_dir, "qev_scoreboard_sync_notebooks_cb: çalışma dizini verilmedi", &sink, nullptr);
}

extern "C" int qev_scoreboard_sync_notebooks_ex(const char* work_dir, qev_scoreboard_line_fn line,
                                                qev_scoreboard_stop_fn stop, void* ctx) {
    qev_scoreboard::ScopedLineSink::Sink sink;
    std::function<bool()> check;
    try {
        // A caller interrupted in its line callback says so at the next point where the sync can stop.
        if (line != nullptr) sink = [line, ctx](const std::string& text) { line(text.c_str(), ctx); };
        if (stop != nullptr) check = [stop, ctx] { return stop(ctx) != 0; };
    } catch (...) {
        clear();
        fail("qev_scoreboard_sync_notebooks_ex: bellek yetersiz", ENOMEM, "bellek yetersiz");
        return 1;
    }
    return sync(work_dir, "qev_scoreboard_sync_notebooks_ex: çalışma dizini verilmedi", &sink, &check);
}

extern "C" size_t qev_scoreboard_last_kept_count(void) { return g_kept.size(); }

extern "C" const char* qev_scoreboard_last_kept(size_t index) {
    return index < g_kept.size() ? g_kept[index].c_str() : nullptr;
}

extern "C" const char* qev_scoreboard_last_error(void) { return g_last_error; }

extern "C" int qev_scoreboard_last_errno(void) { return g_last_errno; }

extern "C" const char* qev_scoreboard_last_error_path(void) { return g_last_path; }

extern "C" const char* qev_scoreboard_last_error_reason(void) { return g_last_reason; }
