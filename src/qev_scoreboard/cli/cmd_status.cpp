// The status command: the report on one working directory, printed as it is collected, and a line of
// progress on a terminal while a long count runs.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "qev_scoreboard/cli/args.hpp"
#include "qev_scoreboard/cli/handlers.hpp"
#include "qev_scoreboard/core/lines.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/console.hpp"
#include "qev_scoreboard/status/render.hpp"
#include "qev_scoreboard/status/report.hpp"

namespace qev_scoreboard {

namespace {

using Clock = std::chrono::steady_clock;

// How long a count runs before its progress is shown, and how often the line is rewritten then.
constexpr auto PROGRESS_AFTER = std::chrono::milliseconds(1000);
constexpr auto PROGRESS_EVERY = std::chrono::milliseconds(200);

// The report's one way out, from whichever thread collects it: report lines to where print_line writes
// on the thread that made it, and, when standard error is a terminal, one line of progress there,
// rewritten in place and erased before the next report line. Lines are printed as the report grows and
// reach their reader before each count, which may take long (or never end, as a view over a FIFO).
class StatusConsole {
 public:
    StatusConsole() : write_(line_writer()), terminal_(platform::stderr_is_terminal()) {}
    ~StatusConsole() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            counting_ = false;
            erase_progress();
        }
        wake_.notify_all();
        if (watcher_.joinable()) watcher_.join();
    }
    StatusConsole(const StatusConsole&) = delete;
    StatusConsole& operator=(const StatusConsole&) = delete;

    bool shows_progress() const { return terminal_; }

    // Prints the lines of the part just added.
    void print(const StatusReport& report, StatusPart part, std::size_t index) {
        // The block ends at its first error; a later one only tells the same failure again.
        if (part == StatusPart::DatabaseError && std::exchange(error_shown_, true)) return;
        const std::vector<std::string> lines = status_text_part(report, part, index);
        if (lines.empty()) return;
        std::lock_guard lock(mutex_);
        erase_progress();
        for (const std::string& line : lines) write_(line);
        std::fflush(stdout);
    }

    void counting(const std::string& label, const std::function<double()>& progress) {
        if (!terminal_) return;
        {
            std::lock_guard lock(mutex_);
            label_ = label;
            progress_ = &progress;
            since_ = Clock::now();
            counting_ = true;
            if (!watcher_.joinable()) watcher_ = std::thread([this] { watch(); });
        }
        wake_.notify_all();
    }

    void counted() {
        if (!terminal_) return;
        std::lock_guard lock(mutex_);
        counting_ = false;
        progress_ = nullptr;
        erase_progress();
    }

 private:
    void watch() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            if (!counting_) {
                wake_.wait(lock);
                continue;
            }
            const auto due = since_ + PROGRESS_AFTER;
            if (Clock::now() < due) {
                wake_.wait_until(lock, due);
                continue;
            }
            // Asked of the engine while the count runs on another thread; the count is not over (counted()
            // takes this lock first), so the connection is still there.
            const double percent = (*progress_)();
            std::string text = "      ";
            text += label_;
            text += ": sayılıyor…";
            if (percent >= 0) text += " %" + std::to_string(static_cast<int>(percent));
            show_progress(text);
            wake_.wait_for(lock, PROGRESS_EVERY);
        }
    }

    // The columns a line may take without wrapping: short of the last one, where some consoles wrap at
    // once and a terminal waits to; none is a terminal that does not say.
    static size_t room() {
        const unsigned columns = platform::stderr_columns();
        return columns > 0 ? columns - 1 : SIZE_MAX;
    }

    // Called with the lock held. A line that wrapped could not be rewritten in place: one copy of it
    // would stay behind at every rewrite.
    void show_progress(const std::string& text) {
        const size_t fits = room();
        const std::string line = cut_to_columns(text, fits);
        const size_t width = display_columns(line);
        std::string out(1, '\r');
        out += line;
        if (width < shown_width_) out.append(std::min(shown_width_, fits) - width, ' ');
        platform::write_stderr(out);
        shown_width_ = std::max(shown_width_, width);
    }

    // Called with the lock held. Blanks are the one erasure every terminal and console understands; no
    // more of them than the line may now take, should the window have narrowed.
    void erase_progress() {
        if (shown_width_ == 0) return;
        std::string blank(std::min(shown_width_, room()) + 2, ' ');
        blank.front() = blank.back() = '\r';
        platform::write_stderr(blank);
        shown_width_ = 0;
    }

    const std::function<void(std::string_view)> write_;
    const bool terminal_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread watcher_;
    bool error_shown_ = false;
    bool stopping_ = false;
    bool counting_ = false;
    std::string label_;
    const std::function<double()>* progress_ = nullptr;
    Clock::time_point since_;
    size_t shown_width_ = 0;
};

}  // namespace

void cmd_status(const Args& args) {
    if (args.json) {
        // What qev_scoreboard_status_json gives for the same directory ("" names "." there too), whole and
        // alone on standard output: a program reads it, so no line of progress and nothing half-written.
        const std::optional<std::string> dir =
            args.dir && args.dir->empty() ? std::optional<std::string>(".") : args.dir;
        std::string json = status_json(collect_status_data(dir));
        if (!json.ends_with('\n')) json += '\n';
        platform::write_stdout(json);
        return;
    }
    StatusConsole console;
    StatusListener listener;
    listener.added = [&](const StatusReport& report, StatusPart part, std::size_t index) {
        console.print(report, part, index);
    };
    listener.counting = [&](const std::string& label, const std::function<double()>& progress) {
        console.counting(label, progress);
    };
    listener.counted = [&] { console.counted(); };
    collect_status(args.dir, false, console.shows_progress(), listener);
}

}  // namespace qev_scoreboard
