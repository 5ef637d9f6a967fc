// The command line: `qev-scoreboard [--dir DIR] <sub-command> [options]`. Each parser accepts only its
// own options in its own place; getopt_long supplies unique-prefix matching and --opt=value.
#include "qev_scoreboard/cli/dispatcher.hpp"

#include <cctype>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "qev_scoreboard/cli/command_table.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/console.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/option_parser.hpp"

namespace qev_scoreboard {

namespace {

constexpr const char* PROG = PROGRAM_NAME;
const std::string HELP_LINE = std::string("  -h, --help  ") + HELP_OPTION_HELP;

std::string option_usage(const std::vector<OptionSpec>& options) {
    std::string out = " [-h]";
    for (const auto& o : options) {
        out += std::string(" [--") + o.name;
        if (o.metavar) out += std::string(" ") + o.metavar;
        out += "]";
    }
    return out;
}

// "init,status,version,verify", from the table.
std::string command_names(const char* separator) {
    std::string out;
    for (const auto& c : command_table()) out += std::string(out.empty() ? "" : separator) + c.name;
    return out;
}

std::string main_usage() {
    return std::string("kullanım: ") + PROG + option_usage({main_option()}) + " {" + command_names(",") + "} ...";
}

std::string sub_usage(const Command& sc) {
    return std::string("kullanım: ") + PROG + " " + sc.name + option_usage(sc.options);
}

std::string option_lines(const std::vector<OptionSpec>& options) {
    std::string out = std::string("seçenekler:\n") + HELP_LINE + "\n";
    for (const auto& o : options) {
        std::string left = std::string("  --") + o.name + (o.metavar ? std::string(" ") + o.metavar : "");
        if (left.size() < 14)
            left.resize(14, ' ');
        else
            left += "  ";
        out += left + o.help + "\n";
    }
    return out;
}

std::string main_help() {
    std::string out = main_usage() + "\n\nQEV Scoreboard Pipeline\n\nalt komutlar:\n";
    for (const auto& sc : command_table()) {
        std::string name = std::string("  ") + sc.name;
        name.resize(14, ' ');
        out += name + sc.help + "\n";
    }
    return out + "\n" + option_lines({main_option()});
}

std::string sub_help(const Command& sc) { return sub_usage(sc) + "\n\n" + option_lines(sc.options); }

// Parses argv[0..argc) (argv[0] names the parser) with `options`; returns the index of the first word
// that is not an option, and applies each recognised option to `args`.
int parse_options(int argc, char** argv, const std::vector<OptionSpec>& options, const std::string& usage,
                  const std::string& help, Args& args) {
    std::vector<platform::LongOption> longopts;
    for (const auto& o : options) longopts.push_back({o.name, o.metavar != nullptr});
    platform::OptionParser parser(argc, argv, longopts);
    longopts.push_back({"help", false});
    using Kind = platform::OptionEvent::Kind;
    for (;;) {
        const platform::OptionEvent e = parser.next();
        if (e.kind == Kind::Done) break;
        if (e.kind == Kind::Help) throw HelpRequest{help};
        if (e.kind == Kind::MissingValue) throw UsageError{usage, std::string(e.word) + " bir değer bekliyor"};
        if (e.kind == Kind::Unrecognised) {
            const std::string given = e.word;
            // A short option is named by its letter, but a long flag given a value (`--help=x`) lands here too.
            if (!given.starts_with("--"))
                throw UsageError{usage, std::string("tanınmayan seçenek: -") + e.short_option};
            const size_t eq = given.find('=');
            const std::string stem = given.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            std::vector<std::string> matches;
            for (const auto& o : longopts) {
                if (o.name.compare(0, stem.size(), stem) == 0) matches.push_back("--" + o.name);
            }
            if (!stem.empty() && matches.size() == 1 && eq != std::string::npos)
                throw UsageError{usage, matches.front() + " bir değer almaz"};
            if (!stem.empty() && matches.size() > 1) {
                std::string listed;
                for (const auto& m : matches) listed += (listed.empty() ? "" : ", ") + m;
                throw UsageError{usage, "belirsiz seçenek: " + given + " (olası: " + listed + ")"};
            }
            throw UsageError{usage, "tanınmayan seçenek: " + given};
        }
        const OptionSpec& chosen = options[static_cast<size_t>(e.index)];
        // A value given as the next word must not itself look like an option (`--dir --force`).
        if (e.value_was_next_word && e.value[0] == '-' && e.value[1] != '\0' &&
            !std::isdigit(static_cast<unsigned char>(e.value[1])))
            throw UsageError{usage, std::string("--") + chosen.name + " bir değer bekliyor"};
        chosen.apply(args, e.value);
    }
    return parser.next_word();
}

const Command* find_command(const std::string& word) {
    for (const auto& candidate : command_table())
        if (word == candidate.name) return &candidate;
    return nullptr;
}

}  // namespace

Args parse_args(int argc, char** argv) {
    Args args;
    const int first = parse_options(argc, argv, {main_option()}, main_usage(), main_help(), args);
    if (first >= argc) return args;

    const std::string word = argv[first];
    const Command* sc = find_command(word);
    if (!sc)
        throw UsageError{main_usage(), "geçersiz alt komut: '" + word + "' (seçenekler: " + command_names(", ") + ")"};
    args.command = sc->name;

    const int sub_argc = argc - first;
    char** sub_argv = argv + first;
    const int rest = parse_options(sub_argc, sub_argv, sc->options, sub_usage(*sc), sub_help(*sc), args);
    if (rest < sub_argc) {
        std::string extra;
        for (int i = rest; i < sub_argc; ++i) extra += std::string(extra.empty() ? "" : " ") + sub_argv[i];
        throw UsageError{main_usage(), "tanınmayan argümanlar: " + extra};
    }
    return args;
}

int run_main(int argc, char** argv) {
    Args args;
    try {
        args = parse_args(argc, argv);
    } catch (const HelpRequest& h) {
        platform::write_stdout(h.text);
        return platform::flush_stdout() == 0 ? 0 : 1;
    } catch (const UsageError& u) {
        // The message quotes the words typed, which may hold anything.
        platform::write_stderr(u.usage + "\n" + PROG + ": hata: " + printable(u.message) + "\n");
        return 2;
    }
    try {
        if (const Command* c = args.command ? find_command(*args.command) : nullptr)
            c->handler(args);
        else
            platform::write_stdout(main_help());
    } catch (const std::exception& e) {
        platform::flush_stdout();
        platform::write_stderr(std::string(PROG) + ": hata: " + printable(e.what()) + "\n");
        return 1;
    }
    // Output that never reached its destination (a full disk, a closed pipe) is a failure, not success.
    if (const int err = platform::flush_stdout(); err != 0) {
        platform::write_stderr(std::string(PROG) + ": hata: standart çıktı: yazılamadı: " + errno_reason(err) + "\n");
        return 1;
    }
    return 0;
}

}  // namespace qev_scoreboard
