// File-system helpers that the standard library lacks.
#pragma once

#include <filesystem>
#include <string>

// A path as the program's core holds it. Where paths are bytes, each byte is
// the unit of the same value.
std::wstring corePath(const std::filesystem::path& path);

// Creates a named pipe at `path`. False on failure, or where the file system
// has no named pipes.
bool makeNamedPipe(const std::filesystem::path& path);

// Binds a local (AF_UNIX) socket at `path` and closes it again, which leaves
// the socket file behind. False on failure, or where there are none.
bool makeSocketFile(const std::filesystem::path& path);
