#include "qev_scoreboard/core/lines.hpp"

#include <string>
#include <utility>

#include "qev_scoreboard/platform/console.hpp"

namespace qev_scoreboard {

namespace {
thread_local ScopedLineSink* g_line_sink = nullptr;
}  // namespace

ScopedLineSink::ScopedLineSink(Sink sink) : sink_(std::move(sink)), previous_(g_line_sink) { g_line_sink = this; }

ScopedLineSink::~ScopedLineSink() { g_line_sink = previous_; }

namespace {

void write_line(std::string_view text) {
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text).push_back('\n');
    // One write per line: on a console a line is converted whole.
    platform::write_stdout(line);
}

}  // namespace

void print_line(std::string_view text) {
    if (g_line_sink != nullptr) {
        if (g_line_sink->sink_) g_line_sink->sink_(std::string(text));
        return;
    }
    write_line(text);
}

std::function<void(std::string_view)> line_writer() {
    if (ScopedLineSink* sink = g_line_sink; sink != nullptr)
        return [sink](std::string_view text) {
            if (sink->sink_) sink->sink_(std::string(text));
        };
    return write_line;
}

}  // namespace qev_scoreboard
