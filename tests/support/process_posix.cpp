#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "support/process.h"

extern char** environ;

namespace proc {
namespace {

struct Pipe {
    int read = -1;
    int write = -1;
};

void closeFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

std::string failure(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

// Reads both pipes as data arrives, so that a child filling one of them
// never waits on a parent that is reading the other.
void drain(Pipe& out, Pipe& err, Result& result, pid_t child, int killAfterSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(killAfterSeconds);
    std::string* sinks[2] = {&result.out, &result.err};
    int* fds[2] = {&out.read, &err.read};
    while (*fds[0] >= 0 || *fds[1] >= 0) {
        pollfd polled[2];
        for (int i = 0; i < 2; ++i) {
            polled[i] = pollfd{*fds[i], POLLIN, 0};
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int waited =
            result.killed ? -1 : static_cast<int>(left.count() > 0 ? left.count() : 0);
        const int ready = poll(polled, 2, waited);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            kill(child, SIGKILL);
            result.killed = true;
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (polled[i].fd < 0 || polled[i].revents == 0) {
                continue;
            }
            char chunk[65536];
            const ssize_t n = read(polled[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                closeFd(*fds[i]);
            }
        }
    }
}

}  // namespace

Result run(const Request& request) {
    Result result;
    Pipe out;
    Pipe err;
    const bool captureOut = request.stdoutPath.empty();
    int ends[2];
    if (captureOut) {
        if (pipe2(ends, O_CLOEXEC) != 0) {
            result.startError = failure("pipe", errno);
            return result;
        }
        out = Pipe{ends[0], ends[1]};
    }
    if (pipe2(ends, O_CLOEXEC) != 0) {
        result.startError = failure("pipe", errno);
        closeFd(out.read);
        closeFd(out.write);
        return result;
    }
    err = Pipe{ends[0], ends[1]};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (captureOut) {
        posix_spawn_file_actions_adddup2(&actions, out.write, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, request.stdoutPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0666);
    }
    posix_spawn_file_actions_adddup2(&actions, err.write, 2);
    // Last, so that a relative stdoutPath is the caller's.
    if (!request.workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, request.workingDirectory.c_str());
    }

    const std::string& zero = request.argumentZero.empty() ? request.program : request.argumentZero;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(zero.c_str()));
    for (const std::string& arg : request.args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, request.program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    closeFd(out.write);
    closeFd(err.write);
    if (spawned != 0) {
        result.startError = failure("posix_spawn", spawned);
        closeFd(out.read);
        closeFd(err.read);
        return result;
    }

    drain(out, err, result, child, request.killAfterSeconds);

    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            result.startError = failure("waitpid", errno);
            return result;
        }
    }
    if (WIFEXITED(status) && !result.killed) {
        result.exited = true;
        result.exitStatus = WEXITSTATUS(status);
    }
    return result;
}

}  // namespace proc
