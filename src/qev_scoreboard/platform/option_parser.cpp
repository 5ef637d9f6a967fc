// The getopt_long loop every system shares; only the reset differs (unix/ and win/).
#include "qev_scoreboard/platform/option_parser.hpp"

#include <getopt.h>

#include <string_view>

namespace qev_scoreboard::platform {

namespace {

option* table(std::vector<char>& bytes) { return reinterpret_cast<option*>(bytes.data()); }

}  // namespace

OptionParser::OptionParser(int argc, char** argv, const std::vector<LongOption>& options)
    : argc_(argc), argv_(argv), names_(options) {
    names_.push_back({"help", false});
    table_.resize((names_.size() + 1) * sizeof(option));
    option* longopts = table(table_);
    for (size_t i = 0; i < names_.size(); ++i) {
        const bool help = i + 1 == names_.size();
        longopts[i] = {names_[i].name.c_str(), names_[i].takes_value ? required_argument : no_argument, nullptr,
                       help ? 'h' : 0};
    }
    longopts[names_.size()] = {nullptr, 0, nullptr, 0};
    reset_option_parser();
    opterr = 0;
}

OptionEvent OptionParser::next() {
    OptionEvent e;
    int index = -1;
    // '+': stop at the first operand (the sub-command); ':': report a missing value apart.
    const int c = getopt_long(argc_, argv_, "+:h", table(table_), &index);
    if (c == -1) return e;
    e.word = argv_[optind - 1];
    // The BSDs' getopt (MinGW-w64's too) reports a long flag given a value (`--help=x`) as a missing value;
    // a word holding "=" has its value, so it is reported as glibc does: not an option taking one.
    const std::string_view word = e.word;
    const bool flag_given_value = c == ':' && word.starts_with("--") && word.find('=') != std::string_view::npos;
    if (c == 'h') {
        e.kind = OptionEvent::Kind::Help;
    } else if (c == ':' && !flag_given_value) {
        e.kind = OptionEvent::Kind::MissingValue;
    } else if (c == '?' || flag_given_value) {
        e.kind = OptionEvent::Kind::Unrecognised;
        e.short_option = static_cast<char>(optopt);
    } else {
        e.kind = OptionEvent::Kind::Option;
        e.index = index;
        e.value = optarg;
        e.value_was_next_word = optarg != nullptr && optarg == argv_[optind - 1];
    }
    return e;
}

int OptionParser::next_word() const { return optind; }

}  // namespace qev_scoreboard::platform
