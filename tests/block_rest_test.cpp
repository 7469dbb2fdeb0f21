// The wait for the rest of a block: how long it rests at each line setting, what ends it sooner,
// and that a block read after resting is read whole at any pace, with one wake a block rather than
// one a piece. In virtual time.
#include "link/block_rest.h"

#include <gtest/gtest.h>

#include "protocol/ymodem_sender.h"
#include "receive/receive_file.h"
#include "receive/receive_ymodem.h"
#include "support/engine_fixture.h"

namespace quenlo {
namespace {

class BlockRestTest : public testing::EngineFixture {
  protected:
    void Settings(const char* baud, const char* parity = "N", const char* data = "8",
                  const char* stop = "1") {
        Prepare(false);
        state.baudRate = baud;
        state.parity = parity;
        state.dataBits = data;
        state.stopBits = stop;
    }
};

TEST_F(BlockRestTest, RestsForTheRestOfTheBlockAndNoLonger) {
    const struct {
        const char *baud, *parity, *data, *stop;
        std::size_t missing;
        int limitMs;
        double clickAt, lostAt;  // -1: none
        double endsAtMs;         // on the virtual clock, from the start of the wait
        int holds;
    } rows[] = {
        // 138 bytes of 10 bits at 115200 Bd: 11.98 ms, rounded down.
        {"115200", "N", "8", "1", 138, 3000, -1, -1, 11, 1},
        // 8E1 and 7E2 are 11 bits a byte, 8N2 too: 138 at 9600 Bd is 158.1 ms.
        {"9600", "E", "8", "1", 138, 3000, -1, -1, 158, 1},
        {"9600", "e", "7", "2", 138, 3000, -1, -1, 158, 1},
        {"9600", "N", "8", "2", 138, 3000, -1, -1, 158, 1},
        {"9600", "N", "8", "1", 138, 3000, -1, -1, 143, 1},
        // The limit comes first; a slow line rests a quarter second at most, then looks.
        {"9600", "N", "8", "1", 138, 100, -1, -1, 100, 1},
        {"300", "N", "8", "1", 138, 3000, -1, -1, 250, 1},
        // Cancel and a device that goes away end it; the loss shows once the quarter is out.
        {"300", "N", "8", "1", 138, 3000, 0.040, -1, 40, 1},
        {"300", "N", "8", "1", 138, 3000, -1, 0.040, 250, 1},
        {"300", "N", "8", "1", 138, 30, -1, 0, 0.1, 0},  // lost before: a wait for news
        // A piece (16 bytes) or less to come, less than a millisecond, or no rate: no rest, a wait
        // for news (the bytes).
        {"9600", "N", "8", "1", 16, 30, -1, -1, 0.1, 0},
        {"9600", "N", "8", "1", 17, 30, -1, -1, 17, 1},
        {"115200", "N", "8", "1", 11, 30, -1, -1, 0.1, 0},
        {"0", "N", "8", "1", 138, 30, -1, -1, 0.1, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.baud) + row.parity + row.data + row.stop + " " +
                     std::to_string(row.missing));
        Settings(row.baud, row.parity, row.data, row.stop);
        line.holds = 0;
        line.lostAt.reset();
        if (row.lostAt >= 0) {
            line.lostAt = host.ClockSeconds() + row.lostAt;
        }
        state.cancelRequested = false;
        ShowWindow();
        if (row.clickAt >= 0) {
            ClickAfter(row.clickAt);
        }
        line.Deliver(std::string(row.missing, 'X'), 0.0001);  // arrives at once: it must not wake
        const double start = host.ClockSeconds();
        AwaitRestOfBlock(state, row.missing, std::chrono::milliseconds(row.limitMs));
        EXPECT_NEAR((host.ClockSeconds() - start) * 1000, row.endsAtMs, 0.01);
        EXPECT_EQ(line.holds, row.holds);
        EXPECT_EQ(state.cancelRequested, row.clickAt >= 0);
        line.Input();
    }
}

// A block protocol reception and a YMODEM one, the handheld's line paced as the settings say, or
// slower or faster than they say, or not at all: every file comes whole, and where the line keeps
// to the settings the loader wakes a few times a block (11 a block and 53 a YMODEM frame when it
// woke for each 16-byte burst), not once a burst.
TEST_F(BlockRestTest, BlocksComeWholeAtAnyPace) {
    const struct {
        bool ymodem;
        const char* settings;
        int lineBaud;     // 0: not paced
        double maxWakes;  // per block; 0: not counted
    } rows[] = {
        {false, "115200", 115200, 6}, {false, "19200", 19200, 6}, {false, "115200", 38400, 0},
        {false, "9600", 115200, 0},   {false, "19200", 0, 0},     {false, "2400", 2400, 8},
        {true, "115200", 115200, 8},  {true, "115200", 57600, 0}, {true, "19200", 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.ymodem ? "YMODEM " : "") + row.settings + " on a line at " +
                     std::to_string(row.lineBaud));
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directory(dir.path());
        Settings(row.settings);
        ShowWindow();
        std::string expected;
        int blocks = 0;
        testing::MemorySource source("PROG.PD4", testing::Bytes(6000));
        if (row.ymodem) {
            expected = testing::Bytes(6000);
            blocks = 6 + 2;  // 1024 bytes a frame, block 0 before, the batch's end after
            Peer(std::make_unique<protocol::YmodemSender>(protocol::YmodemSenderOptions{}, &source,
                                                          line.Now()),
                 {}, {}, row.lineBaud);
        } else {
            protocol::Upload upload{"PROG.PD3", true, {}, {}};
            for (int i = 0; i < 20; ++i) {
                std::string record = testing::Bytes(128 + i).substr(i);
                for (char& c : record) {
                    c = static_cast<char>('A' + (c & 15));
                }
                upload.records.push_back(record);
                expected += upload.records.back() + "\r\n";
            }
            blocks = 20 + 1;
            Uploader(upload, {}, {}, {}, row.lineBaud);
        }
        line.Input();
        const int yieldsBefore = host.yieldCount;
        ASSERT_EQ(Number(row.ymodem ? ReceiveYModem(state) : ReceiveFile(state)), 0);
        EXPECT_EQ(dir.Held(row.ymodem ? "PROG.PD4" : "PROG.PD3"), expected);
        if (row.maxWakes > 0) {
            EXPECT_LE(host.yieldCount - yieldsBefore, row.maxWakes * blocks);
        }
        peer.reset();
    }
}

}  // namespace
}  // namespace quenlo
