#pragma once

#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quenlo::testing {

using Clock = std::chrono::steady_clock;

// A child process with its output in files (or given descriptors); killed and reaped when it goes
// out of scope, so a failed assertion never leaves one behind.
class Process {
  public:
    Process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::filesystem::path& out, const std::filesystem::path& err) {
        Spawn(argv, env, -1, out, err);
    }
    // stdin and stdout on fd (a socket or a terminal), stderr to err.
    Process(const std::vector<std::string>& argv, const std::vector<std::string>& env, int fd,
            const std::filesystem::path& err) {
        Spawn(argv, env, fd, {}, err);
    }
    ~Process() { Finish(std::chrono::seconds(0)); }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    bool running() const { return started() && !status_; }
    // Waits at most `limit` for the process to end; false if it has not.
    bool WaitFor(Clock::duration limit);
    // Waits at most `limit`, then kills; true when the process ended by itself.
    bool Finish(Clock::duration limit);
    void Signal(int signal) const;
    // Lets the process write files of at most `bytes` (a full disk, as it sees it).
    void LimitFileSize(std::uint64_t bytes) const;
    // The exit status, or -1 when the process did not end by exiting (a signal, or not yet).
    int exitStatus() const { return status_ && WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -1; }

  private:
    // Standard input and output on fd, or (fd < 0) from /dev/null and to out.
    void Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int fd,
               const std::filesystem::path& out, const std::filesystem::path& err);

    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Our environment without any port variables of the caller's, plus the given ones.
std::vector<std::string> Environment(const std::vector<std::string>& extra);

std::vector<std::string> Lines(const std::string& text);

}  // namespace quenlo::testing
