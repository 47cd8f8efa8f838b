#include "sim_process.hpp"

#include <array>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using Clock = std::chrono::steady_clock;

namespace {

bool cloexecPipe(int fds[2]) {
    return pipe(fds) == 0 && fcntl(fds[0], F_SETFD, FD_CLOEXEC) == 0 &&
           fcntl(fds[1], F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

SimProcess::SimProcess(const std::string &exe, const std::vector<std::string> &args,
                       const std::string &stderrFile) {
    int in[2];
    int out[2];
    if (!cloexecPipe(in) || !cloexecPipe(out)) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (!stderrFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }

    std::vector<std::string> store{exe};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : store) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);

    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    closeStdin();
    if (stdout_ >= 0) {
        close(stdout_);
    }
}

std::optional<std::string> SimProcess::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (const auto nl = pending_.find('\n'); nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{stdout_, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return std::nullopt;
        }
        std::array<char, 256> chunk{};
        const ssize_t n = read(stdout_, chunk.data(), chunk.size());
        if (n <= 0) {
            return std::nullopt; // stdout closed: no line is coming
        }
        pending_.append(chunk.data(), static_cast<std::size_t>(n));
    }
}

void SimProcess::closeStdin() {
    if (stdin_ >= 0) {
        close(stdin_);
        stdin_ = -1;
    }
}

std::optional<int> SimProcess::waitExit(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (pid_ > 0) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? std::optional(WEXITSTATUS(status)) : std::nullopt;
        }
        if (Clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    return std::nullopt;
}
