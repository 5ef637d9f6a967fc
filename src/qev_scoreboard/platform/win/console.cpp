#include "qev_scoreboard/platform/console.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

namespace {

// The first failure of a write to standard output, as an errno value; flush_stdout reports it.
std::atomic<int> g_stdout_error{0};
std::atomic<bool> g_end_when_stdout_closes{false};

bool write_console(HANDLE h, std::string_view utf8) {
    const std::wstring text = win::widen(utf8);
    // Small pieces: older consoles refuse large buffers. A piece never ends inside a surrogate pair.
    for (size_t at = 0; at < text.size();) {
        size_t n = std::min<size_t>(text.size() - at, 8192);
        if (at + n < text.size() && IS_HIGH_SURROGATE(text[at + n - 1])) --n;
        DWORD written = 0;
        if (!::WriteConsoleW(h, text.data() + at, static_cast<DWORD>(n), &written, nullptr) || written == 0)
            return false;
        at += written;
    }
    return true;
}

bool write_bytes(HANDLE h, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD n = bytes.size() > 1u << 30 ? 1u << 30 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!::WriteFile(h, bytes.data(), n, &written, nullptr)) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

// Straight to the system, past the C runtime's text mode (which would turn "\n" into "\r\n") without
// changing that mode for the rest of the process; what C stdio still holds goes first.
bool write_stream(FILE* stream, DWORD which, std::string_view utf8) {
    std::fflush(stream);
    const HANDLE h = ::GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD mode = 0;
    return ::GetConsoleMode(h, &mode) ? write_console(h, utf8) : write_bytes(h, utf8);
}

}  // namespace

void write_stdout(std::string_view utf8) {
    if (write_stream(stdout, STD_OUTPUT_HANDLE, utf8)) return;
    const DWORD error = ::GetLastError();
    // A reader that stopped reading is no error to report (Windows says the pipe is being closed or broken;
    // wine, that no one is on its other end). Ended at once, like SIGPIPE: no DLL is told to detach while
    // the engine's threads may still hold its locks.
    if (g_end_when_stdout_closes &&
        (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED))
        ::TerminateProcess(::GetCurrentProcess(), STDOUT_CLOSED_EXIT);
    int expected = 0;
    g_stdout_error.compare_exchange_strong(expected, win::errno_from_win32(error));
}

void write_stderr(std::string_view utf8) { write_stream(stderr, STD_ERROR_HANDLE, utf8); }

bool stderr_is_terminal() {
    const HANDLE h = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode);
}

unsigned stderr_columns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
    return static_cast<unsigned>(std::max(0, info.srWindow.Right - info.srWindow.Left + 1));
}

void end_when_stdout_closes() { g_end_when_stdout_closes = true; }

int flush_stdout() {
    if (const int err = g_stdout_error.load(); err != 0) return err;
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    return errno != 0 ? errno : EIO;
}

}  // namespace qev_scoreboard::platform
