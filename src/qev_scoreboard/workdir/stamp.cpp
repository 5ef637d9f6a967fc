#include "qev_scoreboard/workdir/stamp.hpp"

#include <cerrno>
#include <cstddef>

#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/file_error.hpp"

namespace qev_scoreboard {

namespace {

// Longer than any version text, however padded: such a stamp is not one, and is not read in whole.
constexpr size_t MAX_STAMP_SIZE = 4096;

}  // namespace

std::string read_version_stamp(const fs::path& base, bool* exact) {
    if (exact != nullptr) *exact = false;
    const fs::path path = layout::version_stamp_path(base);
    if (!path_exists(path)) return "";
    std::string text;
    try {
        text = read_utf8_file(path, MAX_STAMP_SIZE);
    } catch (const FileError& e) {
        // Not a version text (damaged, or some other file in its place): no version is recorded, and the
        // run writes the stamp anew rather than failing for ever.
        if (e.code().value() == EILSEQ || e.code().value() == EFBIG) return "";
        throw;
    }
    // White space of every kind: a stamp someone padded in an editor still names the version inside it.
    std::string version = trim_unicode_space(text);
    if (exact != nullptr) *exact = !version.empty() && version == text;
    return version;
}

void write_version_stamp(const fs::path& base, const std::string& version) {
    const fs::path path = layout::version_stamp_path(base);
    write_file_atomic(path, version);
    sync_directory(path.parent_path());
}

}  // namespace qev_scoreboard
