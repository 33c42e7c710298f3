// The floor of the benchmark: the least a catalogue of a tree must do. It
// lists every directory recursively and opens, reads 4096 bytes from and
// closes each file, writing nothing. The tool's time is compared with this.
//
// Usage: floor DIRECTORY
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

unsigned long filesRead = 0;

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Walks the directory open at `dirFd`, which it takes over and closes.
bool walk(int dirFd) {
    DIR* dir = fdopendir(dirFd);
    if (dir == nullptr) {
        close(dirFd);
        return false;
    }
    const int fd = dirfd(dir);
    bool ok = true;
    while (const dirent* entry = readdir(dir)) {
        if (isDotOrDotDot(entry->d_name)) {
            continue;
        }
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN || type == DT_LNK) {
            struct stat status;
            if (fstatat(fd, entry->d_name, &status, 0) != 0) {
                continue;
            }
            type = S_ISDIR(status.st_mode) ? DT_DIR : DT_REG;
        }
        if (type == DT_DIR) {
            const int child = openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (child < 0 || !walk(child)) {
                ok = false;
            }
            continue;
        }
        const int file = openat(fd, entry->d_name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (file < 0) {
            continue;
        }
        alignas(64) static unsigned char buffer[4096];
        if (read(file, buffer, sizeof buffer) > 0) {
            ++filesRead;
        }
        close(file);
    }
    closedir(dir);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: floor DIRECTORY\n", stderr);
        return 2;
    }
    const int root = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        std::perror(argv[1]);
        return 1;
    }
    return walk(root) && filesRead != 0 ? 0 : 1;
}
