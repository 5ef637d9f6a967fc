#pragma once
// ADIM_REGISTRY: the pipeline's steps and the notebook each runs from, as the package ships them.

#include <filesystem>
#include <string>
#include <vector>

namespace qev_scoreboard {

struct StepRecord {
    std::string kod;
    std::string nb;  // the notebook file name the step runs from
};
using StepRegistry = std::vector<StepRecord>;  // registry order

// Reads the registry file: a JSON object from step code to a record whose "nb" is a string. Throws
// when it cannot be read, is not such an object, or a record lacks "nb".
StepRegistry load_registry(const std::filesystem::path& file);

// The package's registry, read anew on each call.
StepRegistry adim_registry();

}  // namespace qev_scoreboard
