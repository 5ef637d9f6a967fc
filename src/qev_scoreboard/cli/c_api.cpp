// The C interface: every C++ failure becomes a non-zero status and a message kept per thread.
#include <cstdio>
#include <exception>
#include <string>

#include "qev_scoreboard/qev_scoreboard.h"
#include "qev_scoreboard/qev_scoreboard.hpp"

namespace {

thread_local std::string g_message;
thread_local const char* g_last_error = "";

void fail(const char* text) noexcept { g_last_error = text; }

void fail(const std::exception& e) noexcept {
    try {
        g_message = e.what();
        g_last_error = g_message.c_str();
    } catch (...) {
        g_last_error = "qev_scoreboard: hata iletisi için bellek yetersiz";
    }
}

}  // namespace

extern "C" int qev_scoreboard_sync_notebooks(const char* work_dir) {
    g_last_error = "";
    int status = 1;
    if (work_dir == nullptr || *work_dir == '\0') {
        fail("qev_scoreboard_sync_notebooks: çalışma dizini verilmedi");
    } else {
        try {
            qev_scoreboard::_sync_notebooks(std::filesystem::path(work_dir));
            status = 0;
        } catch (const std::exception& e) {
            fail(e);
        } catch (...) {
            fail("qev_scoreboard_sync_notebooks: bilinmeyen hata");
        }
    }
    // The caller's own output (Python's, say) is buffered apart from ours: flush so lines keep their order.
    std::fflush(stdout);
    return status;
}

extern "C" const char* qev_scoreboard_last_error(void) { return g_last_error; }
