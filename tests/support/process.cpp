#include "support/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

extern char** environ;

namespace quenlo::testing {

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                 const std::filesystem::path& out, const std::filesystem::path& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Spawn(argv, env, &actions);
    posix_spawn_file_actions_destroy(&actions);
}

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& env, int fd,
                 const std::filesystem::path& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Spawn(argv, env, &actions);
    posix_spawn_file_actions_destroy(&actions);
}

void Process::Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    void* actions) {
    // A test runner may have started us with SIGINT ignored, and the child would inherit that.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const auto pointers = [](const std::vector<std::string>& texts) {
        std::vector<char*> all;
        for (const auto& text : texts) {
            all.push_back(const_cast<char*>(text.c_str()));
        }
        all.push_back(nullptr);
        return all;
    };
    auto args = pointers(argv);
    auto envp = pointers(env);
    const int error =
        posix_spawn(&pid_, argv.front().c_str(), static_cast<posix_spawn_file_actions_t*>(actions),
                    &attributes, args.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        pid_ = -1;
        ADD_FAILURE() << "cannot start " << argv.front() << ": " << std::strerror(error);
        return;
    }
    pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    EXPECT_GE(pidFd_, 0) << "pidfd_open: " << std::strerror(errno);
}

Process::~Process() {
    Finish(std::chrono::seconds(0));
    if (pidFd_ >= 0) {
        ::close(pidFd_);
    }
}

bool Process::WaitFor(Clock::duration limit) {
    const auto until = Clock::now() + limit;
    while (running()) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = status;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (done < 0 || left.count() <= 0) {
            break;
        }
        pollfd ended{pidFd_, POLLIN, 0};
        ::poll(&ended, 1, static_cast<int>(left.count()));
    }
    return !running();
}

bool Process::Finish(Clock::duration limit) {
    if (WaitFor(limit)) {
        return true;
    }
    Signal(SIGKILL);
    WaitFor(std::chrono::seconds(5));
    return false;
}

void Process::Signal(int signal) const {
    if (running()) {
        ::kill(pid_, signal);
    }
}

void Process::LimitFileSize(std::uint64_t bytes) const {
    const rlimit limit{bytes, bytes};
    EXPECT_EQ(::prlimit(pid_, RLIMIT_FSIZE, &limit, nullptr), 0) << std::strerror(errno);
}

int Process::exitStatus() const {
    return status_ && WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -1;
}

std::vector<std::string> Environment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "QUENLO_COM", 10) != 0) {
            env.emplace_back(*entry);
        }
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace quenlo::testing
