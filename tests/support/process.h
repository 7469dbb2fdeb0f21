#pragma once

#include <signal.h>
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace quenlo::testing {

using Clock = std::chrono::steady_clock;

// Starts argv[0] with our environment less the caller's port variables, plus `env`; standard input
// and output on fd (a socket or a terminal), or else from nothing and to `out`. Deleting it kills
// and reaps the process, so a failed assertion never leaves one behind.
inline std::unique_ptr<QProcess> StartProcess(const std::vector<std::string>& argv,
                                              const std::vector<std::string>& env,
                                              const std::filesystem::path& err,
                                              const std::filesystem::path& out = {}, int fd = -1) {
    auto process = std::make_unique<QProcess>();
    QStringList arguments;
    for (const auto& arg : argv) {
        arguments += QString::fromStdString(arg);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : environment.keys().filter(QRegularExpression("^QUENLO_COM"))) {
        environment.remove(name);
    }
    for (const auto& entry : env) {
        const QString text = QString::fromStdString(entry);
        environment.insert(text.section('=', 0, 0), text.section('=', 1));
    }
    process->setProcessEnvironment(environment);
    if (fd < 0) {
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QString::fromStdString(out.string()));
    }
    process->setStandardErrorFile(QString::fromStdString(err.string()));
    // A test runner may have started us with interrupts ignored or blocked; the child must not
    // inherit that.
    process->setChildProcessModifier([fd] {
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
    process->start(arguments.takeFirst(), arguments);
    process->waitForStarted();
    return process;
}

// Waits at most `limit` for the process to end; false if it has not.
inline bool Ended(QProcess& process, Clock::duration limit) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(limit).count();
    return process.state() == QProcess::NotRunning ||
           process.waitForFinished(static_cast<int>(ms)) || process.state() == QProcess::NotRunning;
}

// The exit status, or -1 when the process did not end by exiting (a signal, or not yet).
inline int ExitStatus(const QProcess& process) {
    const bool exited = process.state() == QProcess::NotRunning &&
                        process.error() != QProcess::FailedToStart &&
                        process.exitStatus() == QProcess::NormalExit;
    return exited ? process.exitCode() : -1;
}

// The last line of a text.
inline std::string LastLine(std::string text) {
    while (text.ends_with('\n')) {
        text.pop_back();
    }
    return text.substr(text.rfind('\n') + 1);  // all of it when there is one line
}

}  // namespace quenlo::testing
