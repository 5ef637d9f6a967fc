#pragma once
// The one error type for file-system failures: it knows the action, the path and the reason, and
// describes itself as "<path>: <action>: <reason>" in Turkish, whatever the C library's language.

#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>

namespace qev_scoreboard {

// Derives from std::filesystem::filesystem_error so callers that catch the standard type still do;
// what() is our own text, never the standard library's.
class FileError : public std::filesystem::filesystem_error {
 public:
    // The reason is the Turkish text for `err` (an errno value).
    FileError(std::string action, const std::filesystem::path& path, int err);
    // A reason that no errno value names (for example invalid UTF-8); code() is then `err`.
    FileError(std::string action, const std::filesystem::path& path, int err, std::string reason);

    const char* what() const noexcept override { return text_.c_str(); }
    const std::string& action() const noexcept { return action_; }
    const std::string& reason() const noexcept { return reason_; }

 private:
    std::string action_;
    std::string reason_;
    std::string text_;
};

// The name led to another file by the time it was opened: a concurrent run renamed its own copy over it.
// Nothing was written yet; looking the name up again is the remedy. EAGAIN, for callers that only ask the
// errno value.
class FileReplacedMeanwhile : public FileError {
 public:
    FileReplacedMeanwhile(std::string action, const std::filesystem::path& path)
        : FileError(std::move(action), path, EAGAIN) {}
};

// A link planted where others may write, which this user must not follow: "<path>: izlenmedi: başka bir
// kullanıcının bağlantısı" (EACCES). Nothing was written through it.
class ForeignLinkRefused : public FileError {
 public:
    explicit ForeignLinkRefused(const std::filesystem::path& path)
        : FileError("izlenmedi", path, EACCES, "başka bir kullanıcının bağlantısı") {}
};

// Turkish description of an errno value; unknown values fall back to the C library's text and number.
std::string errno_reason(int err);

[[noreturn]] void throw_file_error(std::string action, const std::filesystem::path& path, int err);

}  // namespace qev_scoreboard
