// The completions' model, read from the program's own command table.
#include <stdexcept>
#include <string>

#include "completions.hpp"
#include "qev_scoreboard/cli/command_table.hpp"

namespace qev_scoreboard {

// The table names the handlers; nothing here runs them. A sub-command added to the table with a handler
// of its own fails to link until it is named here too, so none is ever left out unseen.
void cmd_init(const Args&) {}
void cmd_status(const Args&) {}
void cmd_version(const Args&) {}
void cmd_verify(const Args&) {}

}  // namespace qev_scoreboard

namespace qev_completions {

namespace {

// Names go into the scripts as they are, unquoted: only what no shell gives a meaning.
std::string safe_name(const char* name) {
    const std::string text = name != nullptr ? name : "";
    bool ok = !text.empty() && text.front() != '-';
    for (const char c : text) ok = ok && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-');
    if (!ok)
        throw std::runtime_error("the command table holds a name no shell script can hold as it is: '" + text + "'");
    return text;
}

// Every spelling of each option that the program's parser takes for it: an exact name, or a prefix that
// begins no other option's name (--help among them).
Parser parser_of(const char* command, const char* help, const std::vector<qev_scoreboard::OptionSpec>& options) {
    Parser parser;
    parser.command = command != nullptr ? safe_name(command) : "";
    parser.help = help != nullptr ? help : "";
    std::vector<std::string> names{"help"};
    for (const auto& entry : options) names.push_back(safe_name(entry.name));
    for (const auto& entry : options) {
        Option option;
        option.name = entry.name;
        option.help = entry.help != nullptr ? entry.help : "";
        option.metavar = entry.metavar != nullptr ? entry.metavar : "";
        for (const char c : option.metavar)
            if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
                throw std::runtime_error("the command table holds a value's name no shell script can hold as it is: '" +
                                         option.metavar + "'");
        // The value of --dir is a directory; that of any other option, a path to a file.
        option.value = entry.metavar == nullptr              ? Value::None
                       : std::string(entry.metavar) == "DIR" ? Value::Directory
                                                             : Value::File;
        for (size_t length = 1; length <= option.name.size(); ++length) {
            const std::string prefix = option.name.substr(0, length);
            bool unique = true;
            for (const std::string& other : names)
                if (other != option.name && other.compare(0, length, prefix) == 0) unique = false;
            if (unique || length == option.name.size()) option.spellings.push_back("--" + prefix);
        }
        parser.options.push_back(std::move(option));
    }
    return parser;
}

}  // namespace

Model read_command_table() {
    Model model;
    model.program = safe_name(qev_scoreboard::PROGRAM_NAME);
    model.help_help = qev_scoreboard::HELP_OPTION_HELP;
    model.main = parser_of(nullptr, nullptr, {qev_scoreboard::main_option()});
    for (const auto& command : qev_scoreboard::command_table())
        model.commands.push_back(parser_of(command.name, command.help, command.options));
    return model;
}

std::string single_quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace qev_completions
