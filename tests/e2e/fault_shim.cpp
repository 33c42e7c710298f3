// Preloaded into the program by the end-to-end runner: strikes one fault at
// the first open of a file whose last name is NAME, as CARTOLOG_FAULT =
// "NAME:ACTION" says. That is the moment between a directory's listing and
// the read of one of its files, which nothing outside the process can hit.
// ACTION: remove (the file, or an empty directory, is gone), shrink (the file
// is cut below 4 KiB), replace (a directory stands in the file's place),
// device (a link to /dev/zero stands there), emfile (the open fails as when
// no descriptor is left), cut (the file is cut to 5000 bytes once its first
// 4 KiB are read), ioerror (every read past its first 4 KiB fails).
// "ACTION:ahead" strikes only at an open by another thread than the main one,
// the look-ahead's, and holds the walk's own open of the file until then.
// "NAME:not-owner" refuses every open of NAME that asks to leave its access
// time alone, as the system does for a file that is not the user's own.
// "NAME:broken": the listing of the directory NAME fails, as on a damaged
// disk, once it has given three entries.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>

namespace {

using OpenAt = int (*)(int, const char*, int, ...);
std::atomic<bool> struck{false};
// The descriptor of the file that "cut" or "ioerror" strikes at its reads.
std::atomic<int> readsStruck{-1};
// The descriptor of the directory whose listing "broken" strikes.
std::atomic<int> listingStruck{-1};
// Held while a fault strikes: another thread's open of the same file waits
// until the fault is complete, as if it had been struck in one step.
std::mutex striking;

OpenAt realOpenAt() {
    static const auto real = reinterpret_cast<OpenAt>(dlsym(RTLD_NEXT, "openat"));
    return real;
}

// The fault's ACTION if the last name of `path` is its NAME, else empty.
std::string_view actionFor(const char* path) {
    const char* fault = std::getenv("CARTOLOG_FAULT");
    const char* colon = fault != nullptr ? std::strchr(fault, ':') : nullptr;
    std::string_view name(path);
    if (name.ends_with('/')) {  // a directory opened as "dir/"
        name.remove_suffix(1);
    }
    name.remove_prefix(name.rfind('/') + 1);
    if (colon == nullptr || name != std::string_view(fault, static_cast<std::size_t>(colon - fault))) {
        return {};
    }
    return colon + 1;
}

void strike(int dirfd, const char* path) {
    std::string_view action = actionFor(path);
    if (action.empty() || action == "not-owner" || action == "emfile" || action == "cut" ||
        action == "ioerror" || action == "broken") {
        return;
    }
    if (action.ends_with(":ahead")) {
        action.remove_suffix(6);
        if (gettid() == getpid()) {
            for (int waited = 0; !struck && waited < 10000; ++waited) {
                usleep(1000);
            }
            const std::lock_guard<std::mutex> done(striking);
            return;
        }
    }
    const std::lock_guard<std::mutex> hold(striking);
    if (struck.exchange(true)) {
        return;
    }
    if (action == "shrink") {
        const int fd = realOpenAt()(dirfd, path, O_WRONLY | O_CLOEXEC);
        if (fd < 0 || ftruncate(fd, 100) != 0) {
            std::abort();
        }
        close(fd);
        return;
    }
    if (unlinkat(dirfd, path, 0) != 0 && unlinkat(dirfd, path, AT_REMOVEDIR) != 0) {
        std::abort();
    }
    if ((action == "replace" && mkdirat(dirfd, path, 0700) != 0) ||
        (action == "device" && symlinkat("/dev/zero", dirfd, path) != 0)) {
        std::abort();
    }
}

mode_t modeOf(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

bool refused(const char* path, int flags) {
    const std::string_view action = actionFor(path);
    if (action == "emfile") {
        errno = EMFILE;
        return true;
    }
    if ((flags & O_NOATIME) == 0 || action != "not-owner") {
        return false;
    }
    errno = EPERM;
    return true;
}

}  // namespace

extern "C" int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    if (refused(path, flags)) {
        return -1;
    }
    strike(dirfd, path);
    const int fd = realOpenAt()(dirfd, path, flags, mode);
    if (actionFor(path) == "cut" || actionFor(path) == "ioerror") {
        readsStruck = fd;
    }
    return fd;
}

extern "C" ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
    using Pread = ssize_t (*)(int, void*, size_t, off_t);
    static const auto real = reinterpret_cast<Pread>(dlsym(RTLD_NEXT, "pread64"));
    if (fd == readsStruck && offset >= 4096) {
        const char* fault = std::getenv("CARTOLOG_FAULT");
        if (std::strstr(fault, ":ioerror") != nullptr) {
            errno = EIO;
            return -1;
        }
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        if (!struck.exchange(true) && truncate(self, 5000) != 0) {
            std::abort();
        }
    }
    return real(fd, buffer, count, offset);
}

extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    return pread64(fd, buffer, count, offset);
}

// The struck file's descriptor may be given to another file once it is closed.
extern "C" int close(int fd) {
    using Close = int (*)(int);
    static const auto real = reinterpret_cast<Close>(dlsym(RTLD_NEXT, "close"));
    int struckFd = fd;
    readsStruck.compare_exchange_strong(struckFd, -1);
    return real(fd);
}

extern "C" int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    if (refused(path, flags)) {
        return -1;
    }
    strike(AT_FDCWD, path);
    const int fd = realOpenAt()(AT_FDCWD, path, flags, mode);
    if (actionFor(path) == "broken") {
        listingStruck = fd;
    }
    return fd;
}

extern "C" dirent* readdir(DIR* dir) {
    using Readdir = dirent* (*)(DIR*);
    static const auto real = reinterpret_cast<Readdir>(dlsym(RTLD_NEXT, "readdir"));
    static std::atomic<int> given{0};
    if (dirfd(dir) == listingStruck && given++ == 3) {
        errno = EIO;
        return nullptr;
    }
    return real(dir);
}
