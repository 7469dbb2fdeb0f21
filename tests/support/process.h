#pragma once

#include <signal.h>
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace quenlo::testing {

using Clock = std::chrono::steady_clock;

// A child process with its output in files, or its standard input and output on a descriptor (a
// socket or a terminal); killed and reaped when it goes out of scope, so a failed assertion never
// leaves one behind.
class Process {
  public:
    Process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::filesystem::path& out, const std::filesystem::path& err) {
        process_.setStandardInputFile(QProcess::nullDevice());
        process_.setStandardOutputFile(QString::fromStdString(out.string()));
        Start(argv, env, -1, err);
    }
    Process(const std::vector<std::string>& argv, const std::vector<std::string>& env, int fd,
            const std::filesystem::path& err) {
        Start(argv, env, fd, err);
    }
    ~Process() { Finish(std::chrono::seconds(0)); }

    bool started() const { return started_; }
    bool running() const { return process_.state() != QProcess::NotRunning; }
    // Waits at most `limit` for the process to end; false if it has not.
    bool WaitFor(Clock::duration limit) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(limit).count();
        return !running() || process_.waitForFinished(static_cast<int>(ms)) || !running();
    }
    // Waits at most `limit`, then kills; true when the process ended by itself.
    bool Finish(Clock::duration limit) {
        if (WaitFor(limit)) {
            return true;
        }
        process_.kill();
        process_.waitForFinished(5000);
        return false;
    }
    void Signal(int signal) const {
        if (running()) {
            ::kill(static_cast<pid_t>(process_.processId()), signal);
        }
    }
    // The exit status, or -1 when the process did not end by exiting (a signal, or not yet).
    int exitStatus() const {
        const bool exited = started_ && !running() && process_.exitStatus() == QProcess::NormalExit;
        return exited ? process_.exitCode() : -1;
    }

  private:
    // The environment is ours without any port variables of the caller's, plus `env`.
    void Start(const std::vector<std::string>& argv, const std::vector<std::string>& env, int fd,
               const std::filesystem::path& err) {
        QStringList arguments, extra;
        for (const auto& arg : argv) {
            arguments += QString::fromStdString(arg);
        }
        for (const auto& entry : env) {
            extra += QString::fromStdString(entry);
        }
        process_.setProgram(arguments.takeFirst());
        process_.setArguments(arguments);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString& name : environment.keys().filter(QRegularExpression("^QUENLO_COM"))) {
            environment.remove(name);
        }
        for (const QString& entry : extra) {
            environment.insert(entry.section('=', 0, 0), entry.section('=', 1));
        }
        process_.setProcessEnvironment(environment);
        process_.setStandardErrorFile(QString::fromStdString(err.string()));
        // A test runner may have started us with interrupts ignored or blocked; the child must not
        // inherit that.
        process_.setChildProcessModifier([fd] {
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            for (const int signal : {SIGINT, SIGTERM, SIGPIPE}) {
                ::signal(signal, SIG_DFL);
            }
            if (fd >= 0) {
                ::dup2(fd, STDIN_FILENO);
                ::dup2(fd, STDOUT_FILENO);
            }
        });
        process_.start();
        started_ = process_.waitForStarted();
    }

    QProcess process_;
    bool started_ = false;
};

// The last line of a text.
inline std::string LastLine(std::string text) {
    while (text.ends_with('\n')) {
        text.pop_back();
    }
    return text.substr(text.rfind('\n') + 1);  // all of it when there is one line
}

}  // namespace quenlo::testing
