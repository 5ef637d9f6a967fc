// The C interface's auto-sync: _sync_notebooks for callers that cannot use C++.
#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>

#include "qev_scoreboard/api/failure.hpp"
#include "qev_scoreboard/core/lines.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/qev_scoreboard.h"
#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/stop.hpp"

namespace {

using namespace qev_scoreboard::c_api;

int sync(const char* work_dir, const char* missing_dir_text, const qev_scoreboard::ScopedLineSink::Sink* sink,
         const std::function<bool()>* stop) {
    clear();
    kept().clear();
    if (work_dir == nullptr || *work_dir == '\0') {
        fail(missing_dir_text, EINVAL, "çalışma dizini verilmedi");
        return 1;
    }
    try {
        const qev_scoreboard::ScopedStopCheck checked(stop != nullptr ? *stop : std::function<bool()>());
        const auto run = [&] {
            qev_scoreboard::sync_notebooks(qev_scoreboard::platform::path_from_utf8(work_dir), &kept());
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

}  // namespace

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
