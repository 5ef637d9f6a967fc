#pragma once
// The rules that keep every name old or new through a power cut, checked on a run's recorded operations
// under the Posix model, where nothing is durable but what was flushed:
//   R1  nothing is renamed over a name while its data is not durable;
//   R2  the stamp and the record of installed files are renamed into place only when everything they vouch
//       for is durable: the stamp, all the run did; the record, the files it names, with their content;
//   R3  a file the analyst changed is replaced only once its kept copy under yedek/ is durable, down to
//       every directory entry that leads to it;
//   R4  when the run returns, everything it wrote is durable.
// Under OrderedData the file system's order gives R1 to R3 to a run that writes in the right order; R4
// still takes the run's own flushes.

#include <string>
#include <vector>

#include "disk_model.hpp"

namespace qev_test {

// Each breach of a rule, as "R<n> at <call>: <what>".
std::vector<std::string> rule_violations(const DiskModel& model, const Expectation& expect);

}  // namespace qev_test
