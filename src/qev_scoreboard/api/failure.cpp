// The C interface's record of a failure, and its functions that read it.
#include "qev_scoreboard/api/failure.hpp"

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <new>
#include <system_error>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/qev_scoreboard.h"

namespace qev_scoreboard::c_api {

namespace {

thread_local std::string g_message;
thread_local std::string g_path;
thread_local std::string g_reason;
thread_local const char* g_last_error = "";
thread_local const char* g_last_path = "";
thread_local const char* g_last_reason = "";
thread_local int g_last_errno = 0;
thread_local std::vector<std::string> g_kept;

}  // namespace

std::vector<std::string>& kept() noexcept { return g_kept; }

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

namespace {

// The errno value behind `code`, or 0 when it is no errno value.
int errno_of(const std::error_code& code) noexcept {
    return code.category() == std::generic_category() || code.category() == std::system_category() ? code.value() : 0;
}

}  // namespace

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

}  // namespace qev_scoreboard::c_api

using namespace qev_scoreboard::c_api;

extern "C" const char* qev_scoreboard_last_error(void) { return g_last_error; }

extern "C" int qev_scoreboard_last_errno(void) { return g_last_errno; }

extern "C" const char* qev_scoreboard_last_error_path(void) { return g_last_path; }

extern "C" const char* qev_scoreboard_last_error_reason(void) { return g_last_reason; }

extern "C" size_t qev_scoreboard_last_kept_count(void) { return kept().size(); }

extern "C" const char* qev_scoreboard_last_kept(size_t index) {
    return index < kept().size() ? kept()[index].c_str() : nullptr;
}
