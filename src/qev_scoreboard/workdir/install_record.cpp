#include "qev_scoreboard/workdir/install_record.hpp"

#include <cerrno>
#include <cstddef>
#include <stdexcept>

#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/json.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/platform/file_error.hpp"

namespace qev_scoreboard {

namespace {

// Far beyond any package's notebooks; a larger file is not a record of ours and is not read in whole.
constexpr size_t MAX_RECORD_SIZE = size_t{16} << 20;

bool is_fingerprint(const std::string& text) {
    if (text.size() != 16) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

InstallRecord read_install_record(const fs::path& base) {
    InstallRecord record;
    try {
        record.text = read_utf8_file(layout::install_record_path(base), MAX_RECORD_SIZE);
    } catch (const FileError& e) {
        // Missing or damaged: no record, the safe reading (files that differ are kept). A record that is
        // there but cannot be read (no permission, an I/O error) stops the run instead: read as none, it
        // would have every notebook an older version installed kept as if it were the user's, and it
        // could not be written either.
        if (means_absent(e.code().value()) || refused_as_text(e)) return {};
        throw;
    }
    try {
        const JsonValue top = parse_meta_json(record.text);
        for (size_t i = 0; i < top.names.size(); ++i) {
            const JsonValue& value = top.items[i];
            if (value.kind != JsonValue::Kind::String || !is_fingerprint(value.text)) return {};
            record.files[top.names[i]] = value.text;
        }
    } catch (const std::runtime_error&) {
        return {};
    }
    record.found = true;
    return record;
}

void write_install_record(const fs::path& base, const InstallRecord& old, const Fingerprints& files) {
    JsonValue top;
    top.kind = JsonValue::Kind::Object;
    for (const auto& [rel, fingerprint] : files) set_member(top, rel, json_string(fingerprint));
    const std::string text = dump_json(top) + "\n";
    if (old.found && old.text == text) return;
    try {
        write_file_atomic(layout::install_record_path(base), text);
        // Durable, its entry included, before the stamp that follows it.
        sync_directory(layout::db_dir(base));
    } catch (const FileError& e) {
        // A db directory that refuses new files (one shared read-only, say) cannot take a first record.
        // Without one nothing is lost, only more is kept: every file that differs counts as the user's.
        const int err = e.code().value();
        if ((err == EACCES || err == EPERM) && !path_exists(layout::install_record_path(base))) return;
        throw;
    }
}

}  // namespace qev_scoreboard
