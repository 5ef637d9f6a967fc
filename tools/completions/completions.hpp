#pragma once
// The shell completions of the program, written from its own command table when it is built: an option
// or sub-command added there is completed by every shell with no other change.

#include <string>
#include <vector>

namespace qev_completions {

// What follows an option: nothing, a directory or a file.
enum class Value { None, Directory, File };

struct Option {
    std::string name;  // without its dashes
    std::string help;
    Value value = Value::None;
    std::string metavar;  // what the help calls its value
    // Every way the program accepts it on its line: each prefix that names no other option of its parser,
    // shortest first, ending with the whole name ("--d", "--di", "--dir").
    std::vector<std::string> spellings;
};

// One parser of the command line: the main one (no command) or a sub-command's. Its -h/--help is not
// among its options, but every parser has it.
struct Parser {
    std::string command;
    std::string help;
    std::vector<Option> options;
};

struct Model {
    std::string program;
    std::string help_help;  // what -h/--help says of itself
    Parser main;
    std::vector<Parser> commands;
};

// The model of the command table the program is built with. Throws std::runtime_error for a name that
// could not be written into a shell script as it is.
Model read_command_table();

std::string bash_completion(const Model& model);
std::string zsh_completion(const Model& model);
std::string fish_completion(const Model& model);
std::string powershell_completion(const Model& model);

// `text` inside single quotes for a POSIX shell ('\'' for each quote).
std::string single_quoted(const std::string& text);

}  // namespace qev_completions
