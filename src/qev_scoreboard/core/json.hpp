#pragma once
// The JSON reader, writer and meta rewriter together, for code that uses more than one of them.

#include "qev_scoreboard/core/json_reader.hpp"
#include "qev_scoreboard/core/json_writer.hpp"
#include "qev_scoreboard/core/meta_rewriter.hpp"
