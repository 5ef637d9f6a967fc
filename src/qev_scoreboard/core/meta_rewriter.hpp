#pragma once
// Setting one string member of a step meta file's top-level object, written as
// dump_json(parse_meta_json(text) with that member set) would write it, but without the tree: a file is
// read and written in pieces, so memory does not grow with it (only with the members of the objects
// being read, a few bytes each, and with names that are repeated).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "qev_scoreboard/core/json_reader.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard {

namespace fs = std::filesystem;

// The meta file `text` with member `name` set to the string `value`; nullopt when the member already
// holds exactly that string. Refuses what parse_meta_json refuses, with JsonError.
std::optional<std::string> set_string_member(std::string_view text, std::string_view name, std::string_view value);

// The same change on the open regular file `file` (`shown` names it in errors), read through a window
// of `window` bytes. Making it reads the whole file once and checks it: JsonError for what
// parse_meta_json refuses (a file over 4 GiB included), FileError when it cannot be read.
class MetaMemberRewrite {
 public:
    static constexpr std::size_t DEFAULT_WINDOW = std::size_t{1} << 16;

    MetaMemberRewrite(platform::NativeHandle file, const fs::path& shown, std::string_view name, std::string_view value,
                      std::size_t window = DEFAULT_WINDOW);
    ~MetaMemberRewrite();
    MetaMemberRewrite(const MetaMemberRewrite&) = delete;
    MetaMemberRewrite& operator=(const MetaMemberRewrite&) = delete;

    // False when the member already holds exactly that string: nothing to write.
    bool needed() const;

    // Hands `piece` the rewritten file, front to back, in pieces of about `window` bytes, reading the file
    // again; it may be called again to start over. JsonError when the file changed since it was checked.
    void write(const std::function<void(std::string_view)>& piece);

 private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace qev_scoreboard
