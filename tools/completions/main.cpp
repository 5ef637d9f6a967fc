// qev-completions --bash FILE --zsh FILE --fish FILE --powershell FILE: writes each shell's completion of
// the program, from the command table it is built with, where it is asked to (making directories).
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "completions.hpp"

int main(int argc, char** argv) {
    using Render = std::string (*)(const qev_completions::Model&);
    const std::map<std::string, Render> shells = {{"--bash", qev_completions::bash_completion},
                                                  {"--zsh", qev_completions::zsh_completion},
                                                  {"--fish", qev_completions::fish_completion},
                                                  {"--powershell", qev_completions::powershell_completion}};
    try {
        const qev_completions::Model model = qev_completions::read_command_table();
        if (argc < 3 || argc % 2 == 0) throw std::runtime_error("usage: qev-completions (--SHELL FILE)...");
        for (int i = 1; i + 1 < argc; i += 2) {
            const auto shell = shells.find(argv[i]);
            if (shell == shells.end()) throw std::runtime_error(std::string("no such shell: ") + argv[i]);
            const std::filesystem::path file = argv[i + 1];
            if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << shell->second(model);
            out.close();
            if (!out) throw std::runtime_error("cannot write " + file.string());
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qev-completions: %s\n", e.what());
        return 1;
    }
}
