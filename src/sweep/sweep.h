// The walk over the tree below the starting folder.
#pragma once

#include <cstdint>
#include <string>

// Set to 1 whenever a junction point met by the sweep could not be broken;
// never cleared during a sweep. It becomes the exit code.
extern int32_t SweepFailed;

// Walks the tree below `folder` depth first, breaking and removing every
// junction point it meets and descending into every ordinary folder.
void SweepFolder(std::string folder);
