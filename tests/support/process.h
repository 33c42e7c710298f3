// Runs a program as a child process and collects what it printed, as bytes.
// Each system implements it in process_<system>.cpp.
#pragma once

#include <string>
#include <vector>

namespace proc {

struct Request {
    std::string program;       // absolute: systems differ on relative ones
    std::string argumentZero;  // empty means `program`
    // Each byte reaches the child as itself (as the unit of that value where
    // arguments are wide).
    std::vector<std::string> args;
    std::string workingDirectory;  // empty means the caller's
    std::string stdoutPath;        // empty: captured; else written to this file
    int killAfterSeconds = 120;    // so that a hang fails the test
};

// Standard input is always the null device.
struct Result {
    std::string startError;  // why the child could not be started, if it could not
    bool exited = false;     // ended by exiting, not by a signal or the kill
    int exitStatus = -1;
    bool killed = false;
    std::string out;  // unless it went to Request::stdoutPath
    std::string err;
};

Result run(const Request& request);

}  // namespace proc
