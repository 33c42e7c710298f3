// Faults struck at the moment the program opens a file, inside this process:
// between a directory's listing and the read of one of its files, a moment
// that nothing outside the process can hit reliably.
#pragma once

#include <cstddef>
#include <string>

namespace fault {

enum class OnOpen {
    Remove,                // the file (or empty directory) is gone: the open fails
    Shrink,                // the file is cut to `keepBytes` first
    ReplaceWithDirectory,  // a directory stands in its place: the open works, the read fails
};

// Strikes `what` once, at the next open of a path whose last name is `name`.
void armOpenFault(const std::string& name, OnOpen what, std::size_t keepBytes = 0);

// How many armed faults struck since the last armOpenFault.
int openFaultsStruck();

// False where opens cannot be intercepted in-process.
extern const bool OPEN_FAULTS_AVAILABLE;

}  // namespace fault
