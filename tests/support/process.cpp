#include "support/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <thread>

extern char** environ;

namespace quenlo::testing {

void Process::Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    int fd, const std::filesystem::path& out, const std::filesystem::path& err) {
    constexpr int kWrite = O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (fd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, fd, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), kWrite, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), kWrite, 0644);
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
        std::vector<char*> all(texts.size() + 1, nullptr);  // ended by a null pointer
        std::ranges::transform(texts, all.begin(),
                               [](auto& t) { return const_cast<char*>(t.data()); });
        return all;
    };
    auto args = pointers(argv);
    auto envp = pointers(env);
    const int error =
        posix_spawn(&pid_, argv.front().c_str(), &actions, &attributes, args.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        pid_ = -1;
        ADD_FAILURE() << "cannot start " << argv.front() << ": " << std::strerror(error);
    }
}

bool Process::WaitFor(Clock::duration limit) {
    const auto until = Clock::now() + limit;
    for (int status = 0; running(); std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = status;
        } else if (done < 0 || Clock::now() >= until) {
            break;
        }
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
