#pragma once
// Long options parsed by the C library's getopt_long, which Linux, the BSDs, macOS and MinGW-w64 all offer,
// behind a type of our own: callers see no C library name or global.

#include <string>
#include <vector>

namespace qev_scoreboard::platform {

struct LongOption {
    std::string name;
    bool takes_value = false;
};

struct OptionEvent {
    enum class Kind {
        Done,          // no more options: the operands start at next_word()
        Option,        // options[index], with `value` when it takes one
        Help,          // -h or --help
        MissingValue,  // `word` needs a value and has none
        Unrecognised,  // `word` is no option of this parser (`short_option` set for a short one)
    };
    Kind kind = Kind::Done;
    int index = -1;
    const char* value = nullptr;
    bool value_was_next_word = false;  // the value came as the following word, not after '='
    const char* word = nullptr;        // the word the event came from, as typed
    char short_option = 0;
};

// One parse of argv[1..argc) in order, stopping at the first word that is not an option. Only one parser
// may be in use at a time in a process (the C library keeps its state in globals); each starts afresh.
class OptionParser {
 public:
    OptionParser(int argc, char** argv, const std::vector<LongOption>& options);
    OptionEvent next();
    int next_word() const;

 private:
    int argc_;
    char** argv_;
    std::vector<LongOption> names_;
    std::vector<char> table_;  // the C library's option table, kept opaque here
};

// Makes the next parse start afresh, at argv[1], with no state left from an earlier one.
void reset_option_parser();

}  // namespace qev_scoreboard::platform
