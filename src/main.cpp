#include "qev_scoreboard/cli/cli.hpp"

int main(int argc, char** argv) { return qev_scoreboard::run_main(argc, argv); }
