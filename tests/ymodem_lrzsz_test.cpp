// YMODEM against lrzsz, each program on one end of a socket pair and bht-sim's own session loop
// driving our machine on the other. Skipped where lrzsz is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "protocol/ymodem_receiver.h"
#include "protocol/ymodem_sender.h"
#include "sim/session.h"
#include "support/memory_serial_comm.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace quenlo::protocol {
namespace {

using testing::Bytes;
using namespace std::chrono_literals;
using std::string;

const string kName = "PROG.PD4";  // a handheld's name: rb must keep it upper case
const std::size_t kSizes[] = {0, 1, 1023, 1024, 1025, 1 << 20};

// Runs `program` in dir/files with the machine at the other end of its line, until the machine is
// done and the program has ended. The program's end stays open here meanwhile: the session takes
// the line's end for a failure even when the bytes just before it finish the exchange.
void Exchange(PeerMachine& machine, std::vector<string> program, const testing::TempDir& dir) {
    program.insert(program.begin(), {"/usr/bin/env", "-C", (dir.path() / "files").string()});
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    const auto peer = testing::StartProcess(program, {}, dir.path() / "log", {}, ends[1]);
    ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
    sim::Line toMachine, toPeer;
    const auto report =
        sim::RunSession({.fd = ends[0], .drain = nullptr}, machine, toMachine, toPeer, false);
    ::close(ends[0]);
    ::close(ends[1]);
    EXPECT_TRUE(testing::Ended(*peer, 10s));
    EXPECT_EQ(testing::ExitStatus(*peer), 0) << dir.Read("log");
    EXPECT_EQ(report.status(), "ok") << report.failure << "\n" << report.summary << dir.Read("log");
}

// Either way the file arrives whole under its name.
TEST(YmodemLrzsz, BothWays) {
    if (!std::filesystem::exists("/usr/bin/sb") || !std::filesystem::exists("/usr/bin/rb")) {
        GTEST_SKIP() << "lrzsz (sb, rb) is not installed";
    }
    for (const string option : {"-y", "-q", "-k"}) {  // rb, then sb (-q only quietens it)
        for (const std::size_t size : kSizes) {
            SCOPED_TRACE(option + ", size " + std::to_string(size));
            testing::TempDir dir;
            std::filesystem::create_directory(dir.path() / "files");
            string arrived;
            if (option == "-y") {
                testing::MemorySource source(kName, Bytes(size));
                YmodemSender sender({}, &source, sim::MonotonicNow());
                Exchange(sender, {"/usr/bin/rb", "-y"}, dir);
                EXPECT_EQ(sender.bytesTransferred(), size);
                arrived = dir.Read("files/" + kName);
            } else {
                dir.Write("files/" + kName, Bytes(size));
                testing::MemoryStore store;
                YmodemReceiver receiver({}, &store, sim::MonotonicNow());
                Exchange(receiver, {"/usr/bin/sb", option, kName}, dir);
                ASSERT_EQ(store.files.size(), 1u);
                EXPECT_EQ(store.files.begin()->first, kName);
                arrived = store.files.begin()->second;
            }
            EXPECT_TRUE(arrived == Bytes(size)) << "contents differ";
            if (HasFailure()) {
                return;  // a failed exchange waits out every time-out: one is reported in time
            }
        }
    }
}

}  // namespace
}  // namespace quenlo::protocol
