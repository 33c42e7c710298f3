// Running a program as a child process and collecting what it printed, as
// bytes. The interface holds no system types: each system implements it in
// its own process_<system>.cpp.
#pragma once

#include <string>
#include <vector>

namespace proc {

struct Request {
    // The executable. Give it as an absolute path: systems differ in whether
    // a relative one is taken from the working directory below.
    std::string program;
    // Argument zero as the child sees it; empty means `program`.
    std::string argumentZero;
    // The arguments after argument zero. Each byte reaches the child as
    // itself (where arguments are wide, as the unit of the same value).
    std::vector<std::string> args;
    // The child's working directory; empty means the caller's.
    std::string workingDirectory;
    // Where the child's standard output goes: empty means it is captured;
    // otherwise the file at this path, opened for writing (e.g. a device
    // that refuses every write).
    std::string stdoutPath;
    // A child still running after this long is killed, so that a hang shows
    // as a failed test instead of a stuck suite.
    int killAfterSeconds = 120;
};

// Standard input is always the null device.
struct Result {
    // Empty when the child ran; otherwise why it could not be started.
    std::string startError;
    // True when the child ended by exiting (not by a signal or a kill).
    bool exited = false;
    int exitStatus = -1;
    bool killed = false;
    std::string out;  // standard output, unless it went to Request::stdoutPath
    std::string err;  // standard error
};

Result run(const Request& request);

}  // namespace proc
