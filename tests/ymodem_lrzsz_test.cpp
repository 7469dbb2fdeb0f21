// YMODEM against lrzsz: our sender to `rb`, and `sb` (128- and 1024-byte blocks) to our
// receiver, each program a child process on one end of a socket pair and the machine on the
// other, driven by a poll() loop on the real monotonic clock. Skipped where lrzsz is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/ymodem_receiver.h"
#include "protocol/ymodem_sender.h"

namespace quenlo::protocol {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kRb = "/usr/bin/rb";
constexpr const char* kSb = "/usr/bin/sb";
constexpr std::size_t kMiB = 1 << 20;
constexpr std::uint64_t kMtime = 1700000000;  // the modification time block 0 carries to rb
const std::string kName = "PROG.PD4";         // a handheld's name: rb must keep it upper case

Time Now() {
    return std::chrono::duration_cast<Time>(Clock::now().time_since_epoch());
}

std::string Bytes(std::size_t n, unsigned seed = 11) {
    std::string out(n, '\0');
    for (char& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return out;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct TempDir {
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "ymodem-lrzsz-XXXXXX").string();
        path = ::mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
        fs::create_directory(path / "files");
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

struct MemoryStore : FileStore {
    std::map<std::string, std::string> files;
    std::string name, data;
    bool Begin(const std::string& n, std::string&) override { return name = n, data.clear(), true; }
    bool Append(std::string_view bytes, std::string&) override { return data.append(bytes), true; }
    bool Commit(std::string&) override { return files[name] = std::exchange(data, {}), true; }
    void Abandon() override { data.clear(); }
};

struct MemorySource : FileSource {
    MemorySource(std::string n, std::string d) : name(std::move(n)), data(std::move(d)) {}
    std::string Name() const override { return name; }
    std::uint64_t Size() const override { return data.size(); }
    bool Read(std::uint64_t offset, std::size_t length, std::string& out, std::string&) override {
        out = data.substr(offset, length);
        return true;
    }
    std::string name, data;
};

// An lrzsz program with stdin and stdout on its own end of a socket pair, stderr to a log.
struct Child {
    Child(const std::vector<std::string>& argv, const fs::path& dir, const fs::path& log) {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            return;
        }
        pid = ::fork();
        if (pid == 0) {
            const int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (::chdir(dir.c_str()) != 0 || ::dup2(ends[1], 0) < 0 || ::dup2(ends[1], 1) < 0 ||
                ::dup2(err, 2) < 0) {
                ::_exit(126);
            }
            std::vector<char*> args;
            for (const std::string& arg : argv) {
                args.push_back(const_cast<char*>(arg.c_str()));
            }
            args.push_back(nullptr);
            ::execv(argv[0] == "rb" ? kRb : kSb, args.data());
            ::_exit(127);
        }
        ::close(ends[1]);
        if (pid < 0) {
            ::close(ends[0]);
            return;
        }
        fd = ends[0];
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }

    // The exit status, or -1 when the program does not end within `limit` (it is then killed).
    int Wait(std::chrono::seconds limit) {
        ::close(std::exchange(fd, -1));
        const auto end = Clock::now() + limit;
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() > end) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(5ms);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t pid = -1;
    int fd = -1;
};

// Relays bytes between the machine and the line until the machine is done and its last bytes
// are written. False when the line closes first or `limit` runs out.
bool Relay(PeerMachine& machine, int fd, std::chrono::seconds limit, std::string& trace) {
    const auto end = Clock::now() + limit;
    std::string pending;
    char buffer[65536];
    for (;;) {
        pending += machine.TakeOutput();
        for (const std::string& note : machine.TakeNotes()) {
            trace += note + "\n";
        }
        while (!pending.empty()) {
            const ssize_t sent =
                ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0) {
                pending.erase(0, static_cast<std::size_t>(sent));
            } else if (errno != EINTR) {
                break;
            }
        }
        if (machine.finished() && pending.empty()) {
            return true;
        }
        if (Clock::now() > end) {
            return false;
        }
        int wait = 100;
        if (const auto deadline = machine.NextDeadline()) {
            const auto left = (*deadline - Now() + 999us) / 1000us;
            wait = static_cast<int>(std::clamp<long long>(left, 0, wait));
        }
        pollfd line{fd, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0};
        if (::poll(&line, 1, wait) < 0 && errno != EINTR) {
            return false;
        }
        if ((line.revents & POLLIN) != 0) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got == 0) {
                trace += "the line closed\n";
                return false;
            }
            if (got > 0) {
                machine.OnBytes(std::string_view(buffer, static_cast<std::size_t>(got)), Now());
            }
        } else if ((line.revents & (POLLHUP | POLLERR)) != 0) {
            return false;
        }
        if (const auto deadline = machine.NextDeadline(); deadline && Now() >= *deadline) {
            machine.OnTick(Now());
        }
    }
}

const std::size_t kSizes[] = {0, 1, 1023, 1024, 1025, kMiB};

bool LrzszMissing() {
    return !fs::exists(kSb) || !fs::exists(kRb);
}

TEST(YmodemLrzsz, OurSenderToRb) {
    if (LrzszMissing()) {
        GTEST_SKIP() << "lrzsz (sb, rb) is not installed";
    }
    for (const std::size_t size : kSizes) {
        SCOPED_TRACE("size " + std::to_string(size));
        TempDir dir;
        MemorySource source(kName, Bytes(size));
        YmodemSender sender({.modificationTime = kMtime}, &source, Now());
        const auto start = Clock::now();
        Child rb({"rb", "-y"}, dir.path / "files", dir.path / "rb.log");
        ASSERT_GE(rb.fd, 0);
        std::string trace;
        const bool done = Relay(sender, rb.fd, 120s, trace);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const int status = rb.Wait(10s);
        const std::string log = ReadFile(dir.path / "rb.log");
        EXPECT_TRUE(done) << trace << log;
        EXPECT_EQ(sender.outcome(), Outcome::kOk) << sender.Summary() << "\n" << trace << log;
        EXPECT_EQ(status, 0) << log;
        EXPECT_EQ(sender.bytesTransferred(), size);
        const fs::path received = dir.path / "files" / kName;
        ASSERT_TRUE(fs::exists(received)) << log;
        EXPECT_TRUE(ReadFile(received) == source.data) << "contents differ";
        struct stat info {};
        ASSERT_EQ(::stat(received.c_str(), &info), 0);
        EXPECT_EQ(static_cast<std::uint64_t>(info.st_mtime), kMtime);
        if (size == kMiB) {
            std::printf("[ timing ] our sender -> rb -y, 1 MiB: %.3f s\n", seconds);
        }
    }
}

TEST(YmodemLrzsz, SbToOurReceiver) {
    if (LrzszMissing()) {
        GTEST_SKIP() << "lrzsz (sb, rb) is not installed";
    }
    for (const bool longBlocks : {false, true}) {
        for (const std::size_t size : kSizes) {
            SCOPED_TRACE(std::string(longBlocks ? "sb -k" : "sb") + ", size " +
                         std::to_string(size));
            TempDir dir;
            const std::string data = Bytes(size, 29);
            std::ofstream(dir.path / "files" / kName, std::ios::binary) << data;
            MemoryStore store;
            YmodemReceiver receiver({}, &store, Now());
            std::vector<std::string> argv{"sb"};
            if (longBlocks) {
                argv.push_back("-k");
            }
            argv.push_back(kName);
            const auto start = Clock::now();
            Child sb(argv, dir.path / "files", dir.path / "sb.log");
            ASSERT_GE(sb.fd, 0);
            std::string trace;
            const bool done = Relay(receiver, sb.fd, 120s, trace);
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            const int status = sb.Wait(10s);
            const std::string log = ReadFile(dir.path / "sb.log");
            EXPECT_TRUE(done) << trace << log;
            EXPECT_EQ(receiver.outcome(), Outcome::kOk) << receiver.Summary() << "\n"
                                                        << trace << log;
            EXPECT_EQ(status, 0) << log;
            ASSERT_EQ(store.files.size(), 1u) << trace;
            EXPECT_EQ(store.files.begin()->first, kName);
            EXPECT_TRUE(store.files.begin()->second == data) << "contents differ";
            EXPECT_EQ(receiver.fileSize(), size);
            if (size == kMiB) {
                std::printf("[ timing ] %s -> our receiver, 1 MiB: %.3f s\n",
                            longBlocks ? "sb -k" : "sb", seconds);
            }
        }
    }
}

}  // namespace
}  // namespace quenlo::protocol
