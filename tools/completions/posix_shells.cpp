// bash, zsh and fish.
#include <string>
#include <vector>

#include "completions.hpp"

namespace qev_completions {

namespace {

constexpr const char* WRITTEN_FROM =
    "# Written from the program's command table when it is built: an option added there is completed here.\n";

std::string joined(const std::vector<std::string>& words, const std::string& separator) {
    std::string out;
    for (const std::string& word : words) out += (out.empty() ? "" : separator) + word;
    return out;
}

// The words a parser's options may be completed to, -h and --help last.
std::string option_words(const Parser& parser) {
    std::vector<std::string> words;
    for (const Option& option : parser.options) words.push_back("--" + option.name);
    words.insert(words.end(), {"--help", "-h"});
    return joined(words, " ");
}

// The spellings of the options of `parser` that take a value given as the next word.
std::vector<std::string> value_spellings(const Parser& parser) {
    std::vector<std::string> out;
    for (const Option& option : parser.options)
        if (option.value != Value::None) out.insert(out.end(), option.spellings.begin(), option.spellings.end());
    return out;
}

// One option as _arguments takes it, its description in brackets, all in single quotes.
std::string zsh_option(const std::string& head, const std::string& help, const std::string& tail) {
    std::string described;
    for (const char c : help) {
        if (c == '[' || c == ']' || c == '\\') described += '\\';
        described += c;
    }
    return single_quoted(head + "[" + described + "]" + tail);
}

std::string zsh_arguments(const Model& model, const Parser& parser, const std::string& indent) {
    std::string out;
    out += indent + "'(- *)'{-h,--help}" + zsh_option("", model.help_help, "") + " \\\n";
    for (const Option& option : parser.options) {
        if (option.value == Value::None) {
            out += indent + zsh_option("--" + option.name, option.help, "") + " \\\n";
        } else {
            const char* action = option.value == Value::Directory ? "_directories" : "_files";
            out += indent + zsh_option("--" + option.name + "=", option.help, ":" + option.metavar + ":" + action) +
                   " \\\n";
        }
    }
    return out;
}

// `text` inside single quotes for fish, where a backslash and a quote are escaped.
std::string fish_quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\\' || c == '\'') out += '\\';
        out += c;
    }
    return out + "'";
}

std::string fish_options(const Model& model, const Parser& parser, const std::string& condition) {
    const std::string head = "complete -c " + model.program + " -n " + fish_quoted(condition);
    std::string out = head + " -s h -l help -d " + fish_quoted(model.help_help) + "\n";
    for (const Option& option : parser.options) {
        out += head + " -l " + option.name;
        if (option.value == Value::Directory) out += " -x -a '(__fish_complete_directories (commandline -ct))'";
        if (option.value == Value::File) out += " -r -F";
        out += " -d " + fish_quoted(option.help) + "\n";
    }
    return out;
}

}  // namespace

std::string bash_completion(const Model& model) {
    std::string out = "# bash completion for " + model.program + "                              -*- shell-script -*-\n";
    out += WRITTEN_FROM;
    out += "\n_qev_scoreboard()\n{\n";
    out += "    local cur prev words cword split\n";
    out += "    _init_completion -s || return\n\n";
    out += "    # The sub-command is the first word that is neither an option nor the value of one (named whole or\n";
    out += "    # by any prefix the program accepts).\n";
    out += "    local i command=\"\" skip=\"\"\n";
    out += "    for ((i = 1; i < cword; i++)); do\n";
    out += "        if [[ -n $skip ]]; then\n            skip=\"\"\n            continue\n        fi\n";
    out += "        case ${words[i]} in\n";
    if (const auto spellings = value_spellings(model.main); !spellings.empty())
        out += "            " + joined(spellings, " | ") + ") skip=1 ;;\n";
    out += "            -*) ;;\n";
    out += "            *)\n                command=${words[i]}\n                break\n                ;;\n";
    out += "        esac\n    done\n\n";
    out += "    case $command,$prev in\n";
    std::vector<const Parser*> parsers{&model.main};
    for (const Parser& command : model.commands) parsers.push_back(&command);
    for (const Parser* parser : parsers) {
        for (const Option& option : parser->options) {
            if (option.value == Value::None) continue;
            std::vector<std::string> patterns;
            for (const std::string& spelling : option.spellings) patterns.push_back(parser->command + "," + spelling);
            out += "        " + joined(patterns, " | ") + ")\n";
            out += option.value == Value::Directory ? "            _filedir -d\n" : "            _filedir\n";
            out += "            return\n            ;;\n";
        }
    }
    out += "    esac\n";
    out += "    # A value joined by \"=\" was completed above, split at it; nothing else takes one.\n";
    out += "    $split && return\n\n";
    out += "    case $command in\n";
    out += "        \"\")\n";
    out += "            if [[ $cur == -* ]]; then\n";
    out += "                COMPREPLY=($(compgen -W '" + option_words(model.main) + "' -- \"$cur\"))\n";
    out += "            else\n";
    std::vector<std::string> names;
    for (const Parser& command : model.commands) names.push_back(command.command);
    out += "                COMPREPLY=($(compgen -W '" + joined(names, " ") + "' -- \"$cur\"))\n";
    out += "            fi\n            ;;\n";
    for (const Parser& command : model.commands)
        out += "        " + command.command + ") COMPREPLY=($(compgen -W '" + option_words(command) +
               "' -- \"$cur\")) ;;\n";
    out += "    esac\n} &&\n    complete -F _qev_scoreboard " + model.program + "\n\n# ex: filetype=sh\n";
    return out;
}

std::string zsh_completion(const Model& model) {
    std::string out = "#compdef " + model.program + "\n" + WRITTEN_FROM + "\n";
    out += "_" + model.program + "() {\n";
    out += "  local curcontext=$curcontext state state_descr line ret=1\n";
    out += "  typeset -A opt_args\n\n";
    out += "  _arguments -C \\\n" + zsh_arguments(model, model.main, "    ");
    out += "    '1: :->command' \\\n    '*:: :->option' && ret=0\n\n";
    out += "  case $state in\n    (command)\n      local -a commands\n      commands=(\n";
    for (const Parser& command : model.commands)
        out += "        " + single_quoted(command.command + ":" + command.help) + "\n";
    out += "      )\n      _describe -t commands 'alt komut' commands && ret=0\n      ;;\n";
    out += "    (option)\n      curcontext=${curcontext%:*:*}:" + model.program + "-$words[1]:\n";
    out += "      case $words[1] in\n";
    for (const Parser& command : model.commands) {
        out += "        (" + command.command + ")\n          _arguments \\\n";
        std::string arguments = zsh_arguments(model, command, "            ");
        arguments.resize(arguments.size() - 3);  // the last line's " \\\n"
        out += arguments + " && ret=0\n          ;;\n";
    }
    out += "      esac\n      ;;\n  esac\n  return ret\n}\n\n_" + model.program + " \"$@\"\n";
    return out;
}

std::string fish_completion(const Model& model) {
    std::string out = "# fish completion for " + model.program + "\n" + WRITTEN_FROM + "\n";
    out += "# The sub-command on the line so far: the first word that is neither an option nor the value of one\n";
    out += "# (named whole or by any prefix the program accepts).\n";
    out += "function __qev_scoreboard_command\n";
    out += "    set -l words (commandline -opc)\n    set -e words[1]\n    set -l skip 0\n";
    out += "    for word in $words\n";
    out += "        if test $skip = 1\n            set skip 0\n            continue\n        end\n";
    out += "        switch $word\n";
    if (const auto spellings = value_spellings(model.main); !spellings.empty())
        out += "            case " + joined(spellings, " ") + "\n                set skip 1\n";
    out += "            case '-*'\n            case '*'\n                echo $word\n                return 0\n";
    out += "        end\n    end\n    return 1\nend\n\n";
    out += "function __qev_scoreboard_using\n";
    out += "    set -l command (__qev_scoreboard_command); or return 1\n";
    out += "    contains -- $command $argv\nend\n\n";
    out += "complete -c " + model.program + " -f\n";
    out += fish_options(model, model.main, "not __qev_scoreboard_command");
    for (const Parser& command : model.commands)
        out += "complete -c " + model.program + " -n 'not __qev_scoreboard_command' -a " + command.command + " -d " +
               fish_quoted(command.help) + "\n";
    for (const Parser& command : model.commands)
        out += fish_options(model, command, "__qev_scoreboard_using " + command.command);
    return out;
}

}  // namespace qev_completions
