#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "support/fs.h"

std::wstring corePath(const std::filesystem::path& path) {
    std::wstring wide;
    for (const char byte : path.native()) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    }
    return wide;
}

bool makeNamedPipe(const std::filesystem::path& path) {
    return mkfifo(path.c_str(), 0600) == 0;
}

bool makeSocketFile(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string& native = path.native();
    if (native.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, native.c_str(), native.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) {
        return false;
    }
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bound;
}
