// The scratch folder a run works in, reached through a drive mapped to it: what the checks
// put there, under the names in one table, and its removal.
#ifndef TESSARUNE_KIT_SCRATCH_H
#define TESSARUNE_KIT_SCRATCH_H

#include <string>
#include <vector>

// {plain}, {tool} and the like in the tests' tables: the folders the checks put at their
// drive's root, named in one place.
struct ScratchName {
    const char *placeholder;
    std::string name;
};
extern const std::vector<ScratchName> kScratchNames;
std::string AtScratchRoot(const std::string &name);  // through the drive
void RemoveScratchContents();  // what the run made there

#endif
