#pragma once
// Reports as whole lines: on standard output, or to a caller's own sink (the library's callers).

#include <functional>
#include <string>
#include <string_view>

namespace qev_scoreboard {

// Writes `text` and one line break ("\n" on every system) to standard output, or hands `text` to the
// line sink in force on the calling thread.
void print_line(std::string_view text);

// Where print_line on the calling thread writes now (this thread's sink, or standard output), as a
// function that may be called from any thread while that sink lives: for work a command hands to a
// thread of its own.
std::function<void(std::string_view)> line_writer();

// While alive, print_line on the constructing thread hands each line (without its line break) to
// `sink` instead of writing standard output: one caller's lines never reach another caller or fd 1.
// Scopes nest; the innermost wins. An empty `sink` drops the lines.
class ScopedLineSink {
 public:
    using Sink = std::function<void(const std::string&)>;
    explicit ScopedLineSink(Sink sink);
    ~ScopedLineSink();
    ScopedLineSink(const ScopedLineSink&) = delete;
    ScopedLineSink& operator=(const ScopedLineSink&) = delete;

 private:
    Sink sink_;
    ScopedLineSink* previous_;
    friend void print_line(std::string_view text);
    friend std::function<void(std::string_view)> line_writer();
};

}  // namespace qev_scoreboard
