#include "qev_scoreboard/workdir/install_record.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/json_reader.hpp"
#include "qev_scoreboard/core/json_writer.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/platform/clock.hpp"
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

constexpr std::string_view FINGERPRINT = "fingerprint";
constexpr std::string_view INSTALLED = "installed";
constexpr std::string_view PACKAGE = "package";

template <typename Number>
std::optional<Number> number_of(const JsonValue* value) {
    if (value == nullptr || value->kind != JsonValue::Kind::Number) return std::nullopt;
    Number n{};
    const auto [end, err] = std::from_chars(value->text.data(), value->text.data() + value->text.size(), n);
    if (err != std::errc{} || end != value->text.data() + value->text.size()) return std::nullopt;
    return n;
}

// Facts the record names, or nothing where they are missing or are not what this version writes: the
// file is then read, as without a record of its facts.
std::optional<FileFacts> facts_in(const JsonValue* value) {
    if (value == nullptr || value->kind != JsonValue::Kind::Object) return std::nullopt;
    const auto size = number_of<std::uint64_t>(find_member(*value, "size"));
    const auto modified = number_of<std::int64_t>(find_member(*value, "mtime_ns"));
    const auto changed = number_of<std::int64_t>(find_member(*value, "ctime_ns"));
    const auto file_id = number_of<std::uint64_t>(find_member(*value, "file_id"));
    const auto device = number_of<std::uint64_t>(find_member(*value, "device"));
    if (!size || !modified || !changed || !file_id || !device) return std::nullopt;
    return FileFacts{*size, *modified, *changed, *file_id, *device};
}

void write_facts(JsonWriter& w, std::string_view name, const std::optional<FileFacts>& facts) {
    if (!facts) return;
    w.key(name);
    w.begin_object(JsonWriter::Layout::Inline);
    w.key("size");
    w.number(facts->size);
    w.key("mtime_ns");
    w.number(facts->modified_ns);
    w.key("ctime_ns");
    w.number(facts->changed_ns);
    w.key("file_id");
    w.number(facts->file_id);
    w.key("device");
    w.number(facts->device);
    w.end_object();
}

// An entry of the record: this version's object, or an older version's fingerprint alone.
std::optional<RecordedFile> entry_of(const JsonValue& value) {
    RecordedFile file;
    if (value.kind == JsonValue::Kind::String) {
        file.fingerprint = value.text;
    } else if (value.kind == JsonValue::Kind::Object) {
        const JsonValue* fingerprint = find_member(value, FINGERPRINT);
        if (fingerprint == nullptr || fingerprint->kind != JsonValue::Kind::String) return std::nullopt;
        file.fingerprint = fingerprint->text;
        file.installed = facts_in(find_member(value, INSTALLED));
        file.package = facts_in(find_member(value, PACKAGE));
    } else {
        return std::nullopt;
    }
    if (!is_fingerprint(file.fingerprint)) return std::nullopt;
    return file;
}

// Waits, a few milliseconds at most, for the file system's clock to pass `latest`, the last change of a
// file the record is about to name: a file changed in the same tick as the record is written is never
// trusted by its facts.
void let_the_clock_pass(std::int64_t latest) {
    for (int waited = 0; waited < 50; ++waited) {
        const platform::FileTime now = platform::file_system_time();
        if (now.seconds * 1000000000 + now.nanoseconds > latest) return;
        platform::pause_briefly();
    }
}

}  // namespace

InstallRecord read_install_record(const fs::path& base) {
    InstallRecord record;
    try {
        const Fd file = open_regular_for_reading(layout::install_record_path(base));
        record.written = platform::info(file.get(), layout::install_record_path(base)).modified;
        record.text = read_utf8_text(file.get(), layout::install_record_path(base), MAX_RECORD_SIZE);
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
            const std::optional<RecordedFile> file = entry_of(top.items[i]);
            if (!file) return {};
            record.files[top.names[i]] = *file;
        }
    } catch (const std::runtime_error&) {
        return {};
    }
    record.found = true;
    return record;
}

void write_install_record(const fs::path& base, const InstallRecord& old, const RecordedFiles& files) {
    std::string text;
    JsonWriter w(text);
    w.begin_object();
    std::int64_t latest = 0;
    for (const auto& [rel, file] : files) {
        w.key(rel);
        w.begin_object();
        w.key(FINGERPRINT);
        w.string(file.fingerprint);
        write_facts(w, INSTALLED, file.installed);
        write_facts(w, PACKAGE, file.package);
        w.end_object();
        for (const auto& facts : {file.installed, file.package})
            if (facts) latest = std::max(latest, facts->changed_ns);
    }
    w.end_object();
    w.finish();
    text += "\n";
    if (old.found && old.text == text) return;
    let_the_clock_pass(latest);
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
