// The command line: `qev-scoreboard [--dir DIR] <sub-command> [options]`. Each parser accepts only its
// own options in its own place; glibc's getopt_long supplies unique-prefix matching and --opt=value.
#include "qev_scoreboard/cli/dispatcher.hpp"

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "qev_scoreboard/cli/cli.hpp"
#include "qev_scoreboard/cli/fs_util.hpp"
#include "qev_scoreboard/services/services.hpp"

namespace qev_scoreboard {

namespace {

constexpr const char* PROG = "qev-scoreboard";
constexpr const char* HELP_LINE = "  -h, --help  bu yardımı göster ve çık";

struct OptionSpec {
    const char* name;
    const char* metavar;  // nullptr for a flag
    const char* help;
};

struct SubCommand {
    const char* name;
    const char* help;
    std::vector<OptionSpec> options;
};

const std::vector<SubCommand>& sub_commands() {
    static const std::vector<SubCommand> table = {
        {"init", "Çalışma dizinini hazırla", {{"force", nullptr, "Hash kontrolü yapma, tüm dosyaları üzerine yaz"}}},
        {"status", "Durum kontrolü", {}},
        {"version", "Versiyon bilgisi", {}},
        {"verify", "Kurulum doğrulama", {{"db", "DB", "DB yolu"}}},
    };
    return table;
}

const OptionSpec MAIN_OPTION = {"dir", "DIR", "Çalışma dizini (varsayılan: bulunduğunuz dizin)"};

std::string option_usage(const std::vector<OptionSpec>& options) {
    std::string out = " [-h]";
    for (const auto& o : options) {
        out += std::string(" [--") + o.name;
        if (o.metavar) out += std::string(" ") + o.metavar;
        out += "]";
    }
    return out;
}

std::string main_usage() {
    return std::string("kullanım: ") + PROG + option_usage({MAIN_OPTION}) + " {init,status,version,verify} ...";
}

std::string sub_usage(const SubCommand& sc) {
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
    for (const auto& sc : sub_commands()) {
        std::string name = std::string("  ") + sc.name;
        name.resize(14, ' ');
        out += name + sc.help + "\n";
    }
    return out + "\n" + option_lines({MAIN_OPTION});
}

std::string sub_help(const SubCommand& sc) { return sub_usage(sc) + "\n\n" + option_lines(sc.options); }

// Parses argv[0..argc) (argv[0] names the parser) with `options`; returns the index of the first word
// that is not an option, and hands each recognised option to `take`.
template <typename Take>
int parse_options(int argc, char** argv, const std::vector<OptionSpec>& options, const std::string& usage,
                  const std::string& help, Take take) {
    std::vector<option> longopts;
    for (const auto& o : options) longopts.push_back({o.name, o.metavar ? required_argument : no_argument, nullptr, 0});
    longopts.push_back({"help", no_argument, nullptr, 'h'});
    longopts.push_back({nullptr, 0, nullptr, 0});

    optind = 0;  // full re-initialisation: each parser starts afresh
    opterr = 0;
    for (;;) {
        int index = -1;
        int c = getopt_long(argc, argv, "+:h", longopts.data(), &index);
        if (c == -1) break;
        if (c == 'h') throw HelpRequest{help};
        const char* word = argv[optind - 1];
        if (c == ':') throw UsageError{usage, std::string(word) + " bir değer bekliyor"};
        if (c == '?') {
            if (optopt != 0) throw UsageError{usage, std::string("tanınmayan seçenek: -") + static_cast<char>(optopt)};
            std::string given = word;
            std::string stem =
                given.substr(2, given.find('=') == std::string::npos ? std::string::npos : given.find('=') - 2);
            std::string matches;
            for (const auto& o : longopts) {
                if (o.name && std::strncmp(o.name, stem.c_str(), stem.size()) == 0)
                    matches += std::string(matches.empty() ? "" : ", ") + "--" + o.name;
            }
            if (!stem.empty() && matches.find(',') != std::string::npos)
                throw UsageError{usage, "belirsiz seçenek: " + given + " (olası: " + matches + ")"};
            throw UsageError{usage, "tanınmayan seçenek: " + given};
        }
        const OptionSpec& chosen = options[static_cast<size_t>(index)];
        // A value given as the next word must not itself look like an option (`--dir --force`).
        if (optarg && optarg == argv[optind - 1] && optarg[0] == '-' && optarg[1] != '\0' &&
            !std::isdigit(static_cast<unsigned char>(optarg[1])))
            throw UsageError{usage, std::string("--") + chosen.name + " bir değer bekliyor"};
        take(chosen, optarg);
    }
    return optind;
}

}  // namespace

Args parse_args(int argc, char** argv) {
    Args args;
    const int first = parse_options(argc, argv, {MAIN_OPTION}, main_usage(), main_help(),
                                    [&](const OptionSpec&, const char* value) { args.dir = value; });
    if (first >= argc) return args;

    const std::string word = argv[first];
    const SubCommand* sc = nullptr;
    for (const auto& candidate : sub_commands())
        if (word == candidate.name) sc = &candidate;
    if (!sc)
        throw UsageError{main_usage(),
                         "geçersiz alt komut: '" + word + "' (seçenekler: init, status, version, verify)"};
    args.command = sc->name;

    const int sub_argc = argc - first;
    char** sub_argv = argv + first;
    const int rest = parse_options(sub_argc, sub_argv, sc->options, sub_usage(*sc), sub_help(*sc),
                                   [&](const OptionSpec& o, const char* value) {
                                       if (std::strcmp(o.name, "force") == 0) args.force = true;
                                       if (std::strcmp(o.name, "db") == 0) args.db = value;
                                   });
    if (rest < sub_argc) {
        std::string extra;
        for (int i = rest; i < sub_argc; ++i) extra += std::string(extra.empty() ? "" : " ") + sub_argv[i];
        throw UsageError{main_usage(), "tanınmayan argümanlar: " + extra};
    }
    return args;
}

namespace {

void dispatch(const Args& args) {
    const std::string& command = args.command ? *args.command : std::string();
    if (command == "init") {
        cmd_init(args);
    } else if (command == "status") {
        cmd_status(args);
    } else if (command == "version") {
        cmd_version(args);
    } else if (command == "verify") {
        services().verify_all(args.db);
    } else {
        std::fputs(main_help().c_str(), stdout);
    }
}

}  // namespace

void print_line(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

int run_main(int argc, char** argv) {
    Args args;
    try {
        args = parse_args(argc, argv);
    } catch (const HelpRequest& h) {
        std::fputs(h.text.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    } catch (const UsageError& u) {
        std::fprintf(stderr, "%s\n%s: hata: %s\n", u.usage.c_str(), PROG, u.message.c_str());
        return 2;
    }
    try {
        dispatch(args);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: hata: %s\n", PROG, describe_error(e).c_str());
        return 1;
    }
    // Output that never reached its destination (a full disk, a closed pipe) is a failure, not success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: hata: standart çıktıya yazılamadı: %s\n", PROG, std::strerror(errno));
        return 1;
    }
    return 0;
}

}  // namespace qev_scoreboard
