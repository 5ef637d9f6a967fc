// The command-line parser on arbitrary argument vectors: the input, split at NUL bytes, is the words
// after the program name. Every outcome is a parsed record, a usage error or a help request, and the
// record only ever holds what the grammar allows.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "qev_scoreboard/cli/command_table.hpp"
#include "qev_scoreboard/cli/dispatcher.hpp"

using qev_scoreboard::Args;
using qev_scoreboard::HelpRequest;
using qev_scoreboard::parse_args;
using qev_scoreboard::UsageError;

namespace {

[[noreturn]] void finding(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "args: %s\n%.*s\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

using Outcome = std::variant<Args, UsageError, HelpRequest>;

// Parses a private, writable copy of the words, and checks that the parser left the words alone.
Outcome parse(const std::vector<std::string>& words) {
    std::vector<std::string> copy = words;
    std::vector<char*> argv;
    for (auto& w : copy) argv.push_back(w.data());
    argv.push_back(nullptr);
    Outcome out;
    try {
        out = parse_args(static_cast<int>(copy.size()), argv.data());
    } catch (const UsageError& u) {
        out = u;
    } catch (const HelpRequest& h) {
        out = h;
    }
    if (copy != words) finding("the parser changed its argument words");
    for (size_t i = 0; i < copy.size(); ++i)
        if (argv[i] != copy[i].data()) finding("the parser reordered its argument vector");
    return out;
}

bool same(const Outcome& a, const Outcome& b) {
    if (a.index() != b.index()) return false;
    if (const auto* x = std::get_if<Args>(&a)) {
        const auto& y = std::get<Args>(b);
        return x->dir == y.dir && x->command == y.command && x->force == y.force && x->db == y.db;
    }
    if (const auto* x = std::get_if<UsageError>(&a)) {
        const auto& y = std::get<UsageError>(b);
        return x->usage == y.usage && x->message == y.message;
    }
    return std::get<HelpRequest>(a).text == std::get<HelpRequest>(b).text;
}

// An option value comes from the words as typed: a whole word, or what follows the first '=' of one.
bool typed_as_value(const std::vector<std::string>& words, const std::string& value) {
    for (size_t i = 1; i < words.size(); ++i) {
        if (words[i] == value) return true;
        const size_t eq = words[i].find('=');
        if (words[i].rfind("--", 0) == 0 && eq != std::string::npos && words[i].substr(eq + 1) == value) return true;
    }
    return false;
}

void check(const std::vector<std::string>& words, const Outcome& outcome) {
    if (const auto* u = std::get_if<UsageError>(&outcome)) {
        if (u->usage.rfind("kullanım: qev-scoreboard", 0) != 0) finding("usage error without a usage line", u->usage);
        if (u->message.empty()) finding("usage error without a message");
        return;
    }
    if (const auto* h = std::get_if<HelpRequest>(&outcome)) {
        if (h->text.rfind("kullanım: qev-scoreboard", 0) != 0) finding("help without a usage line", h->text);
        return;
    }
    const Args& args = std::get<Args>(outcome);
    const Args defaults;
    if (args.command) {
        const std::string& c = *args.command;
        bool known = false;
        for (const auto& command : qev_scoreboard::command_table()) known = known || c == command.name;
        if (!known) finding("a command outside the table parsed", c);
        bool typed = false;
        for (size_t i = 1; i < words.size(); ++i) typed = typed || words[i] == c;
        if (!typed) finding("command not typed as a word", c);
    }
    if (args.force && args.command != "init") finding("--force outside init");
    if (args.db != defaults.db) {
        if (args.command != "verify") finding("--db outside verify", args.db);
        if (!typed_as_value(words, args.db)) finding("--db value not typed", args.db);
    }
    if (args.dir && !typed_as_value(words, *args.dir)) finding("--dir value not typed", *args.dir);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words{"qev-scoreboard"};
    if (size > 0) {
        const std::string_view input(reinterpret_cast<const char*>(data), size);
        size_t start = 0;
        for (;;) {
            const size_t nul = input.find('\0', start);
            words.emplace_back(input.substr(start, nul == std::string_view::npos ? nul : nul - start));
            if (nul == std::string_view::npos) break;
            start = nul + 1;
        }
    }

    const Outcome first = parse(words);
    check(words, first);
    if (!same(first, parse(words))) finding("a second parse of the same words differed");
    // A parse abandoned in the middle of a group of short options leaves getopt's scanning state
    // behind; the next parse must not see it.
    parse({"qev-scoreboard", "-hx"});
    parse({"qev-scoreboard", "init", "-xf", "--force"});
    if (!same(first, parse(words))) finding("a parse after an abandoned one differed");
    return 0;
}
