// The C interface's status report: the data, and its three forms from one collection.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "qev_scoreboard/api/failure.hpp"
#include "qev_scoreboard/core/json_writer.hpp"
#include "qev_scoreboard/qev_scoreboard.h"
#include "qev_scoreboard/status/render.hpp"
#include "qev_scoreboard/status/report.hpp"

namespace {

using namespace qev_scoreboard::c_api;

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
