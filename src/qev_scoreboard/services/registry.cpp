#include "qev_scoreboard/services/registry.hpp"

#include <cerrno>

#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/json.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/services/services.hpp"

namespace qev_scoreboard {

StepRegistry load_registry(const std::filesystem::path& file) {
    constexpr const char* action = "adım kaydı okunamadı";
    const std::string text = read_utf8_file(file);
    JsonValue doc;
    try {
        doc = parse_json(text);
    } catch (const std::exception& e) {
        throw FileError(action, file, EINVAL, e.what());
    }
    if (doc.kind != JsonValue::Kind::Object) throw FileError(action, file, EINVAL, "bir JSON nesnesi değil");
    StepRegistry out;
    for (size_t i = 0; i < doc.items.size(); ++i) {
        const JsonValue* nb = find_member(doc.items[i], "nb");
        if (doc.items[i].kind != JsonValue::Kind::Object || nb == nullptr || nb->kind != JsonValue::Kind::String)
            throw FileError(action, file, EINVAL, "'" + doc.names[i] + "' adımının \"nb\" alanı yok");
        out.push_back({doc.names[i], nb->text});
    }
    return out;
}

StepRegistry adim_registry() { return load_registry(services().data_dir() / std::string(layout::PACKAGE_REGISTRY)); }

}  // namespace qev_scoreboard
