#include "support/expect.h"

#include <cerrno>
#include <cstring>

namespace expect {

const PathRules PATH_RULES = {L'/', false};
const std::string_view STORED_LINE_END = "\n";
const bool POSIX_SYSTEM = true;

// Every failure text is strerror(errno), whether the runtime or the system
// reported it.
std::string failureText(Failure failure) {
    int number = 0;
    switch (failure) {
        case Failure::NoSuchDirectory:
        case Failure::NoSuchFile:
            number = ENOENT;
            break;
        case Failure::NotADirectory:
            number = ENOTDIR;
            break;
        case Failure::PathTooLong:
        case Failure::CurrentDirTooLong:
            number = ERANGE;
            break;
        case Failure::DeviceFull:
            number = ENOSPC;
            break;
    }
    return std::string(std::strerror(number)).append(STORED_LINE_END);
}

}  // namespace expect
