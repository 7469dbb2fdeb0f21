// TransmitYModem and ReceiveYModem through the port's transfer facility, against the YMODEM
// machines over an in-memory line, in virtual time: one row a scenario, each way.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "protocol/ymodem_block.h"
#include "protocol/ymodem_receiver.h"
#include "protocol/ymodem_sender.h"
#include "receive/receive_ymodem.h"
#include "send/transmit_ymodem.h"
#include "support/engine_fixture.h"
#include "support/file_size_limit.h"

namespace quenlo {
namespace {

using testing::Planted;
using YmodemTransferTest = testing::EngineFixture;

const std::string kEarlier = "EARLIER LINE\r\n";

// YMODEM through the port's facility, both ways, against the YMODEM machines.
struct YmodemScenario {
    bool send = false;  // the loader sends (else it receives)
    std::string name = "PROG.PD4";
    std::size_t bytes = 5000;
    sim::LineFaults toLoader = {};
    std::optional<std::size_t> storeFailsAfter = {};  // the receiving handheld's store
    bool append = false;
    Planted plant = Planted::kNothing;  // what stands at PROG.PD4 before a reception
    std::string block0 = "";            // a block 0 of the handheld's own instead of a sender
    double clickAt = -1;
    long sizeLimit = 0;  // as in the block scenarios
    int result = 0;
    std::size_t notes = 0;
};

// clang-format off
const YmodemScenario kYmodemScenarios[] = {
    // The batch never closed, by the handheld sending (its end block lost) or receiving (its ACK
    // of the end lost): the file went through whole, and the run says so.
    {.toLoader = {.cutAfter = 133 + 5 * 1029 + 2}, .notes = 1},
    {.send = true, .toLoader = {.cutAfter = 11}, .notes = 1},
    // 5000 bytes each way: 5 blocks of 1024 in the window, and 2048 of them 41 %.
    {.send = true},
    {},
    // An empty file each way.
    {.send = true, .bytes = 0},
    {.bytes = 0},
    // A directory part of the announced name is dropped.
    {.name = "../../PROG.PD4"},
    // A name the rules refuse, one unsafe even to store, a block 0 without a readable size:
    // 70, nothing written.
    {.name = "TOOLONGNAME.PD4", .result = 70},
    {.name = "PROG\x01.PD4", .result = 70},
    {.block0 = std::string("PROG.PD4\0" "12x", 12), .result = 70},
    // A handheld that never starts: 51 sending, 52 receiving.
    {.send = true, .toLoader = {.silent = true}, .result = 51},
    {.toLoader = {.silent = true}, .result = 52},
    // Cancel while waiting for the start and during the data: 90, the earlier file kept.
    {.send = true, .toLoader = {.silent = true}, .clickAt = 4, .result = 90},
    {.bytes = 100000, .plant = Planted::kFile, .clickAt = 3, .result = 90},
    // The handheld cannot store it and cancels: 55.
    {.send = true, .storeFailsAfter = 2000, .result = 55},
    // +APP adds to the earlier file, and takes back what it added on Cancel.
    {.append = true, .plant = Planted::kFile},
    {.bytes = 100000, .append = true, .plant = Planted::kFile, .clickAt = 3, .result = 90},
    // What is no file at the name: 71, before a byte of it is written.
    {.plant = Planted::kDirectory, .result = 71},
#ifndef _WIN32
    // A symbolic link at the name is replaced, never followed (making one takes a privilege on
    // Windows); appending through one is refused; a full disk.
    {.plant = Planted::kLink},
    {.append = true, .plant = Planted::kLink, .result = 71},
    {.bytes = 100000, .plant = Planted::kFile, .sizeLimit = 3000, .result = 72},
#endif
};
// clang-format on

TEST_F(YmodemTransferTest, BothWays) {
    ShowWindow();
    testing::TempDir outside;
    for (const YmodemScenario& row : kYmodemScenarios) {
        SCOPED_TRACE("row " + std::to_string(&row - std::begin(kYmodemScenarios)));
        Prepare(false);
        outside.Write("PROG.PD4", "KEEP");
        dir.Plant("PROG.PD4", row.plant, kEarlier, outside.path() / "PROG.PD4");
        const std::string before = dir.Held("PROG.PD4");
        state.appendMode = row.append;
        const std::string data = testing::Bytes(row.bytes);
        view.log.clear();
        store.files.clear();
        store.failAfter = row.storeFailsAfter;
        testing::MemorySource source(row.name, data);
        if (row.send) {
            dir.Write("PROG.PD4", data);
            state.fileName = "PROG.PD4";
            state.programFile = true;
            Peer(std::make_unique<protocol::YmodemReceiver>(protocol::YmodemReceiverOptions{},
                                                            &store, line.Now()),
                 {}, row.toLoader, 115200);
        } else if (row.block0.empty()) {
            Peer(std::make_unique<protocol::YmodemSender>(protocol::YmodemSenderOptions{}, &source,
                                                          line.Now()),
                 {}, row.toLoader, 115200);
        } else {
            line.Detach();
            peer.reset();
            line.Deliver(protocol::EncodeBlock(0, row.block0, 128, protocol::CheckKind::kCrc16), 1);
        }
        line.Input();
        if (row.clickAt >= 0) {
            ClickAfter(row.clickAt);
        }
        {
            const testing::FileSizeLimit limit(row.sizeLimit);
            EXPECT_EQ(Number(row.send ? TransmitYModem(state) : ReceiveYModem(state)), row.result);
        }
        peer.reset();
        EXPECT_EQ(state.link.transferState,
                  row.result == 0 ? TransferState::kCompleted : TransferState::kStopped);
        EXPECT_EQ(view.Values("YModemTimer").back(), "0");
        if (row.send) {
            EXPECT_EQ(store.files.count("PROG.PD4") != 0 ? store.files["PROG.PD4"] : "-",
                      row.result == 0 ? data : "-");
        } else {
            // The whole new file (+APP: after the earlier one), or what the name held.
            EXPECT_EQ(dir.Held("PROG.PD4"),
                      row.result != 0 ? before : (row.append ? kEarlier : "") + data);
            EXPECT_EQ(dir.Names(), dir.Held("PROG.PD4") == "-" ? "" : "PROG.PD4");
        }
        EXPECT_EQ(outside.Held("PROG.PD4"), "KEEP");
        EXPECT_EQ(outside.Names(), "PROG.PD4");
        EXPECT_EQ(state.notes.size(), row.notes);
        if (row.bytes == 5000 && row.result == 0) {
            const auto complete = view.Values("complete");
            EXPECT_EQ(view.Values("RecordsBox").back(), " 00005");
            EXPECT_EQ(complete.back(), " 100%");
            EXPECT_NE(std::find(complete.begin(), complete.end(), " 41%"), complete.end());
        }
    }
}

}  // namespace
}  // namespace quenlo
