// Receiving by the block protocol from the uploading handheld machine over an in-memory line, in
// virtual time: one row a scenario, each saying what the loader answers, how it ends and what it
// leaves on the disk.
#include "receive/receive_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "protocol/block_codec.h"
#include "protocol/control_chars.h"
#include "protocol/heading.h"
#include "support/engine_fixture.h"
#include "support/file_size_limit.h"

namespace quenlo {
namespace {

protocol::Upload Program(int records, const std::string& name = "PROG.PD3") {
    protocol::Upload upload{name, true, {}, {}};
    for (int i = 1; i <= records; ++i) {
        upload.records.push_back("REC" + std::to_string(1000 + i) + std::string(121, '0'));
    }
    return upload;
}

protocol::Upload Data(std::vector<std::string> records, std::vector<int> widths = {2},
                      const std::string& name = "DATA.TXT") {
    return {name, false, std::move(widths), std::move(records)};
}

std::string Lines(const protocol::Upload& upload) {
    std::string text;
    for (const auto& record : upload.records) {
        text += record + "\r\n";
    }
    return text;
}

// A name whose heading's check byte is ENQ ("{" is allowed in names); the scenarios check it.
const std::string kEnqCheckedName = "G{.PD3";

// A record "pB" makes the block "00001pB" ETX, whose check byte is NUL.
const std::string kNulCheckRecord = "pB";

using testing::Planted;

// What becomes of the target folder once the records come.
enum class Midway { kNothing, kSwappedForALink, kRemoved };

struct Scenario {
    protocol::Upload upload = Program(3);
    BlockOptions blocks = {};  // block check and numbers, on both sides
    protocol::SenderFaults faults = {};
    sim::LineFaults toHandheld = {};
    sim::LineFaults toLoader = {};
    bool append = false;
    Planted plant = Planted::kNothing;  // what stands at the target's name before the run
    std::string earlier = "";           // a planted file's bytes
    bool lowerCase = false;             // the planted file's name in lower case
    Planted plantFieldFile = Planted::kNothing;
    Midway midway = Midway::kNothing;
    std::optional<std::uint64_t> freeSpace = std::uint64_t{1} << 30;  // none: asked about
    bool answerYes = false;
    double clickAt = -1;
    long sizeLimit = 0;  // the system refuses writes past this size, as a full disk does
    int result = 0;
    const char* trace = "A A A A A A";  // what the loader answered: A(CK), N(AK), T (EOT)
    const char* after = nullptr;        // what the name holds when not the rule's plain answer
};

const std::string kEarlier = "EARLIER LINE\r\n";

// clang-format off
const Scenario kScenarios[] = {
    // Three program records.
    {},
    // No records: an empty file.
    {.upload = Program(0), .trace = "A A A"},
    // A repeat of the block just written: ACK, written once; a damaged check byte: NAK.
    {.faults = {.repeatBlock = 2}, .trace = "A A A A A A A"},
    {.faults = {.badCheckBlock = 2}, .trace = "A A A N A A A"},
    // A lost NUL check byte is no damage.
    {.upload = Data({kNulCheckRecord, "AB"}), .faults = {.dropNulChecks = true},
     .trace = "A A A A A"},
    // Stray bytes before STX are dropped.
    {.faults = {.strayBeforeBlock = 2}},
    // An ENQ that is the heading's own check byte is no call.
    {.upload = Program(3, kEnqCheckedName)},
    // Free space the system cannot tell: the operator is asked; Yes goes on, No ends with 72.
    {.freeSpace = std::nullopt, .answerYes = true},
    {.freeSpace = std::nullopt, .result = 72, .trace = "A T A"},
    // A lone ENQ between blocks: NAK.
    {.faults = {.enqBeforeBlock = 2}, .trace = "A A A N A A A"},
    // A damaged heading: NAK, then the heading.
    {.toLoader = {.corruptBytes = {5}}, .trace = "A N A A A A A"},
    // The 10th NAK since the last record: 53, no partial file after EOT.
    {.toLoader = {.corruptBytes = {208, 344, 480, 616, 752, 888, 1024, 1160, 1296, 1432}},
     .result = 53, .trace = "A A A N N N N N N N N N N A"},
    // The ACK of the last record lost: its repeat, with or without numbers, is acknowledged.
    // Without numbers a lost ACK before that takes a record twice: the block beyond the count
    // shows it, 54. A handheld that only calls ends the heading's wait in ten slices.
    {.toHandheld = {.dropBytes = {5}}, .trace = "A A A A A A A"},
    {.blocks = {true, false}, .toHandheld = {.dropBytes = {5}}, .trace = "A A A A A A A"},
    {.blocks = {true, false}, .toHandheld = {.dropBytes = {4}}, .result = 54, .trace = "A A A A A T A"},
    {.faults = {.callForever = true}, .result = 51, .trace = "A A A A A A A A A A A T A"},
    // A silent handheld, or silence after the call or the heading: 51 after ten slices.
    {.toLoader = {.silent = true}, .result = 51, .trace = "T A"},
    {.toLoader = {.cutAfter = 1}, .result = 51, .trace = "A T A"},
    {.toLoader = {.cutAfter = 25}, .plant = Planted::kFile, .earlier = kEarlier, .result = 51,
     .trace = "A A T A"},
    // A name the rules refuse or one Windows keeps for a device: 70.
    {.upload = Program(1, "BAD NAME.PD3"), .result = 70, .trace = "A T A"},
    {.upload = Program(1, "CON.PD3"), .result = 70, .trace = "A T A"},
    {.upload = Program(1, "CONIN$.PD3"), .result = 70, .trace = "A T A"},
    // Only a file or nothing may stand at the name: a directory, a FIFO, or a link to append
    // through is refused before the heading's ACK; a link is replaced, never followed.
    {.plant = Planted::kDirectory, .result = 71, .trace = "A T A"},
#ifndef _WIN32  // no FIFOs there, and links only with privileges
    {.plant = Planted::kFifo, .result = 71, .trace = "A T A"},
    {.append = true, .plant = Planted::kLink, .result = 71, .trace = "A T A"},
    {.plant = Planted::kLink},
    {.plant = Planted::kDangling},
#endif
    // No room (three lines of 130 need 390): 72 from the heading alone, the earlier file kept.
    {.plant = Planted::kFile, .earlier = kEarlier, .freeSpace = 389, .result = 72,
     .trace = "A T A"},
    // Cancel during the records: 90; the earlier file, in whatever letter case, stays.
    {.upload = Program(200), .plant = Planted::kFile, .earlier = kEarlier, .lowerCase = true,
     .clickAt = 2.0, .result = 90},
    {.plant = Planted::kFile, .earlier = kEarlier, .lowerCase = true},
#ifndef _WIN32
    // A full disk: 72 at the record that does not fit, nothing partial (two records of 130 fit).
    {.plant = Planted::kFile, .earlier = kEarlier, .sizeLimit = 300, .result = 72,
     .trace = "A A A A A T A"},
    {.append = true, .plant = Planted::kFile, .earlier = kEarlier, .sizeLimit = 300,
     .result = 72, .trace = "A A A A A T A"},
    // The folder swapped for a link, or removed, during the run: nothing written or removed
    // anywhere else; a removed folder fails the run.
    {.upload = Program(200), .midway = Midway::kSwappedForALink, .clickAt = 2.0, .result = 90},
    {.midway = Midway::kRemoved, .result = 71},
#endif
    // +APP adds to what was there, on a line of its own; one that fails keeps it, even empty.
    {.append = true, .plant = Planted::kFile, .earlier = kEarlier},
    {.append = true, .plant = Planted::kFile, .earlier = "NO LINE END",
     .after = "NO LINE END\r\n"},
    {.upload = Program(200), .append = true, .plant = Planted::kFile, .earlier = "",
     .clickAt = 2.0, .result = 90, .after = ""},
    // A data file keeps its records whatever becomes of its field file: none for one named
    // like a field file, a failure for a field file that cannot be written.
    {.upload = Data({"AB"}, {2}, "X.FLD"), .trace = "A A A A"},
    {.upload = Data({"AB"}), .plantFieldFile = Planted::kDirectory, .result = 99,
     .trace = "A A A A"},
};
// clang-format on

using ReceiveTest = testing::EngineFixture;

TEST_F(ReceiveTest, Scenarios) {
    ASSERT_EQ(Bcc(HeadingText(kEnqCheckedName, 3, true, {}) + chETX), chENQ);
    ShowWindow();
    testing::TempDir outside;  // where links lead: never written
    for (const Scenario& row : kScenarios) {
        SCOPED_TRACE("row " + std::to_string(&row - std::begin(kScenarios)));
        Prepare(false);
        const std::string name = row.lowerCase ? "prog.pd3" : row.upload.name;
        const bool data = !row.upload.programFile;
        const std::string fieldFile = row.upload.name.substr(0, row.upload.name.find('.')) + ".FLD";
        std::filesystem::remove_all(outside.path());
        std::filesystem::create_directory(outside.path());
        outside.Write(row.upload.name, "KEEP");  // Windows makes no file of a device's name
        const std::string outsideBefore = outside.Held(row.upload.name);
        const std::string outsideNames = outside.Names();
        dir.Plant(name, row.plant, row.earlier,
                  outside.path() / (row.plant == Planted::kDangling ? "GONE" : row.upload.name));
        dir.Plant(fieldFile, row.plantFieldFile);
        const std::string before = dir.Held(name);
        state.appendMode = row.append;
        state.bccEnabled = row.blocks.bcc;
        state.seqEnabled = row.blocks.seq;
        host.freeSpace = row.freeSpace;
        host.yesNoAnswer = row.answerYes;
        Uploader(row.upload, {.blocks = row.blocks, .faults = row.faults}, row.toHandheld,
                 row.toLoader);
        line.Input();
        if (row.clickAt >= 0) {
            ClickAfter(row.clickAt);
        }
        onYield = [&, done = false]() mutable {
            if (done || row.midway == Midway::kNothing || view.status != "Receiving Program ") {
                return;
            }
            done = true;
            if (row.midway == Midway::kRemoved) {
                std::filesystem::remove_all(dir.path());
                return;
            }
            std::filesystem::rename(dir.path(), dir.path().string() + "-moved");
            std::filesystem::create_symlink(outside.path(), dir.path());
        };
        int result = 0;
        {
            const testing::FileSizeLimit limit(row.sizeLimit);
            result = Number(ReceiveFile(state));
        }
        onYield = nullptr;
        if (row.midway == Midway::kSwappedForALink) {
            std::filesystem::remove(dir.path());
            std::filesystem::rename(dir.path().string() + "-moved", dir.path());
        }
        std::filesystem::create_directories(dir.path());
        EXPECT_EQ(result, row.result);
        // Only an acknowledged EOT completes (a file that could not be put in place after it too).
        const bool completed = row.result == 0 || row.result == 53 || row.result == 99 ||
                               row.midway == Midway::kRemoved;
        EXPECT_EQ(state.link.transferState,
                  completed ? TransferState::kCompleted : TransferState::kStopped);
        if (row.clickAt < 0) {
            EXPECT_THAT(Trace(), testing::Tokens(row.trace, "sending"));
        } else {
            EXPECT_THAT(Trace(), ::testing::EndsWith("T A"));  // EOT and ACK at the end
        }
        // The name holds the whole new file (+APP: added to what was there) or what it held.
        const bool whole = row.result == 0 || (row.result == 99 && data);
        const std::string added = row.append ? row.earlier : "";
        const std::string expected = row.after
                                         ? std::string(row.after) + (whole ? Lines(row.upload) : "")
                                     : whole ? added + Lines(row.upload)
                                             : before;
        EXPECT_EQ(dir.Held(name), expected);
        EXPECT_EQ(outside.Held(row.upload.name), outsideBefore);
        EXPECT_EQ(outside.Names(), outsideNames);
        // Nothing else is left: a field file beside a whole data file, no temporary file.
        const bool withFieldFile = data && row.result == 0 && fieldFile != row.upload.name;
        const std::string fieldEntry = row.plantFieldFile != Planted::kNothing ? fieldFile
                                       : withFieldFile                         ? fieldFile
                                                                               : "";
        std::string names = expected == "-" ? "" : name;
        if (!fieldEntry.empty()) {
            names = fieldEntry < names ? fieldEntry + (names.empty() ? "" : "|" + names)
                                       : names + (names.empty() ? "" : "|") + fieldEntry;
        }
        EXPECT_EQ(dir.Names(), names);
        EXPECT_EQ(state.notes.size(), data && fieldFile == row.upload.name ? 1u : 0u);
        EXPECT_FALSE(state.AnyFileOpen());
        EXPECT_EQ(peer->protocolErrors(), 0);
        if (!row.freeSpace) {
            ASSERT_EQ(host.messages.size(), 1u);
            EXPECT_EQ(host.messages[0].title + "|" + host.messages[0].text,
                      "Free Space DLL error (0)|Can not calculate free space \r is there > 0kBytes "
                      "free0");
        }
    }
}

TEST_F(ReceiveTest, DataFileGetsItsFieldFileAndTheWindowFollows) {
    std::vector<std::string> records;
    for (int i = 1; i <= 8; ++i) {
        records.push_back("ITEM" + std::to_string(i) + "     " + "AB" + std::to_string(i) + "  ");
    }
    Prepare();
    Uploader(Data(records, {10, 5}));
    EXPECT_EQ(ReceiveFile(state), result::kOk);
    EXPECT_EQ(dir.Read("DATA.TXT"), Lines(Data(records)));
    const std::string fieldFile = dir.Read("DATA.FLD");
    for (const char* entry : {"\r\nfile    DATA.TXT\r\n", "\r\ndate    12-06-2026 09:05:07\r\n",
                              "\r\nsize    136\r\n", "\r\nrecords 8\r\n", "\r\nfields  10 5\r\n"}) {
        EXPECT_NE(fieldFile.find(entry), std::string::npos) << entry;
    }
    EXPECT_EQ(view.Values("StatusBox"),
              (std::vector<std::string>{"Receive Header", "Receiving File ", "Closing Link"}));
    EXPECT_EQ(view.Values("complete"), (std::vector<std::string>{" 12%", " 25%", " 38%", " 50%",
                                                                 " 62%", " 75%", " 88%", " 100%"}));
    EXPECT_EQ(view.Values("RecordsBox"), std::vector<std::string>{" 00008"});
    EXPECT_FALSE(view.aboutEnabled);
#ifndef _WIN32
    // A field file that does not fit is not left half written beside its data file, which stays
    // whole; the run says it failed.
    std::filesystem::remove(dir.path() / "DATA.FLD");
    Prepare();
    Uploader(Data(records, {10, 5}));
    {
        const testing::FileSizeLimit limit(
            150);  // the data file's 136 bytes fit, the field file does not
        EXPECT_EQ(ReceiveFile(state), result::kDiskFull);
    }
    EXPECT_EQ(dir.Read("DATA.TXT"), Lines(Data(records)));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "DATA.FLD"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "DATA.FLD.PART"));
#endif
}

}  // namespace
}  // namespace quenlo
