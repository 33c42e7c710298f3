#include "support/fs.h"

std::wstring corePath(const std::filesystem::path& path) { return path.native(); }

// Named pipes do not live in the Windows file system.
bool makeNamedPipe(const std::filesystem::path& /*path*/) { return false; }

// Socket files are left to the POSIX suites.
bool makeSocketFile(const std::filesystem::path& /*path*/) { return false; }
