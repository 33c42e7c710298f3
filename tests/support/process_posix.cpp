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

std::string failure(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

void closeFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// Reads both pipes as data arrives, so that a child filling one never waits
// on a parent reading the other; kills the child at the deadline.
void drain(int outFd, int errFd, Result& result, pid_t child, int killAfterSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(killAfterSeconds);
    pollfd polled[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    while (polled[0].fd >= 0 || polled[1].fd >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        const int ready =
            poll(polled, 2, result.killed ? -1 : static_cast<int>(left > 0 ? left : 0));
        if (ready == 0) {
            kill(child, SIGKILL);
            result.killed = true;
        }
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (polled[i].fd < 0 || polled[i].revents == 0) {
                continue;
            }
            char chunk[65536];
            const ssize_t n = read(polled[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                closeFd(polled[i].fd);
            }
        }
    }
}

}  // namespace

Result run(const Request& request) {
    Result result;
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    const bool captureOut = request.stdoutPath.empty();
    if ((captureOut && pipe2(out, O_CLOEXEC) != 0) || pipe2(err, O_CLOEXEC) != 0) {
        result.startError = failure("pipe", errno);
        closeFd(out[0]);
        closeFd(out[1]);
        return result;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (captureOut) {
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, request.stdoutPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0666);
    }
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    // Last, so that a relative stdoutPath is the caller's.
    if (!request.workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, request.workingDirectory.c_str());
    }
    const std::string& zero = request.argumentZero.empty() ? request.program : request.argumentZero;
    std::vector<char*> argv{const_cast<char*>(zero.c_str())};
    for (const std::string& arg : request.args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, request.program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    closeFd(out[1]);
    closeFd(err[1]);
    if (spawned != 0) {
        result.startError = failure("posix_spawn", spawned);
        closeFd(out[0]);
        closeFd(err[0]);
        return result;
    }
    drain(out[0], err[0], result, child, request.killAfterSeconds);

    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            result.startError = failure("waitpid", errno);
            return result;
        }
    }
    result.exited = WIFEXITED(status) && !result.killed;
    result.exitStatus = result.exited ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace proc
