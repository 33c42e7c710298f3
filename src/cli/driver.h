// One catalogue run, from the command line to the exit status.
#pragma once

/// Runs cartolog on the process's arguments; returns the exit status, 0 after
/// a complete run and 1 after any failure.
int runCartolog();
