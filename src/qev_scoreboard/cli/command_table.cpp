#include "qev_scoreboard/cli/command_table.hpp"

namespace qev_scoreboard {

const OptionSpec& main_option() {
    static const OptionSpec dir = {"dir", "DIR", "Çalışma dizini (varsayılan: bulunduğunuz dizin)",
                                   [](Args& a, const char* v) { a.dir = v; }};
    return dir;
}

const std::vector<Command>& command_table() {
    static const std::vector<Command> table = {
        {"init",
         "Çalışma dizinini hazırla",
         {{"force", nullptr, "Hash kontrolü yapma, tüm dosyaları üzerine yaz",
           [](Args& a, const char*) { a.force = true; }},
          {"dry-run", nullptr, "Hiçbir şey yazma, yapılacakları göster",
           [](Args& a, const char*) { a.dry_run = true; }}},
         cmd_init},
        {"status",
         "Durum kontrolü",
         {{"json", nullptr, "Raporu JSON olarak yaz", [](Args& a, const char*) { a.json = true; }}},
         cmd_status},
        {"version", "Versiyon bilgisi", {}, cmd_version},
        {"verify",
         "Kurulum doğrulama",
         {{"db", "DB", "DB yolu", [](Args& a, const char* v) { a.db = v; }}},
         cmd_verify},
    };
    return table;
}

}  // namespace qev_scoreboard
