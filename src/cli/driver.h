// One catalogue run, from the command line to the exit status.
#pragma once

#include "platform/platform.h"

/// Runs cartolog on the process's arguments `args`, argument zero first;
/// returns the exit status, 0 after a complete run and 1 after any failure.
int runCartolog(std::span<const NativeChar* const> args);
