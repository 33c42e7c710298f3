// The executable's own open() and openat() come first in symbol lookup, so the
// core's calls land here; the real ones are the next definition.
#undef _FORTIFY_SOURCE  // its inline open() wrappers would clash with these
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>

#include "support/open_fault.h"

namespace fault {
namespace {

using OpenAt = int (*)(int, const char*, int, ...);

struct Armed {
    bool armed = false;
    std::string name;
    OnOpen what = OnOpen::Remove;
    std::size_t keepBytes = 0;
    int struck = 0;
} armed;

OpenAt realOpenAt() {
    static const auto real = reinterpret_cast<OpenAt>(dlsym(RTLD_NEXT, "openat"));
    return real;
}

bool lastNameIs(const char* path, const std::string& name) {
    const char* slash = std::strrchr(path, '/');
    return name == (slash != nullptr ? slash + 1 : path);
}

void strike(int dirfd, const char* path) {
    if (!armed.armed || !lastNameIs(path, armed.name)) {
        return;
    }
    armed.armed = false;
    ++armed.struck;
    switch (armed.what) {
        case OnOpen::Remove:
            if (unlinkat(dirfd, path, 0) != 0) {
                unlinkat(dirfd, path, AT_REMOVEDIR);  // an empty directory
            }
            break;
        case OnOpen::Shrink: {
            const int fd = realOpenAt()(dirfd, path, O_WRONLY | O_CLOEXEC);
            if (fd >= 0) {
                if (ftruncate(fd, static_cast<off_t>(armed.keepBytes)) != 0) {
                    armed.struck = -1;  // the test then fails on the count
                }
                close(fd);
            }
            break;
        }
        case OnOpen::ReplaceWithDirectory:
            unlinkat(dirfd, path, 0);
            mkdirat(dirfd, path, 0700);
            break;
    }
}

mode_t modeArgument(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

}  // namespace

const bool OPEN_FAULTS_AVAILABLE = true;

void armOpenFault(const std::string& name, OnOpen what, std::size_t keepBytes) {
    armed = Armed{true, name, what, keepBytes, 0};
}

int openFaultsStruck() { return armed.struck; }

}  // namespace fault

extern "C" int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = fault::modeArgument(flags, args);
    va_end(args);
    fault::strike(dirfd, path);
    return fault::realOpenAt()(dirfd, path, flags, mode);
}

// The walk opens files by name in a listing and directories by path: both
// reach the interposed openat.
extern "C" int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = fault::modeArgument(flags, args);
    va_end(args);
    return openat(AT_FDCWD, path, flags, mode);
}
