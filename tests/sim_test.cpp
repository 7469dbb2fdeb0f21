// The simulated handheld's receiving side: heading and block checks, answers, the fault switches,
// output pacing, the received file, and the loop that drives it all over a line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "send/record_reader.h"
#include "sim/block_receiver.h"
#include "sim/heading.h"
#include "sim/line_pacer.h"
#include "sim/record_sink.h"
#include "sim/session.h"
#include "sim/wire.h"
#include "support/temp_dir.h"

namespace quenlo::sim {
namespace {

constexpr TimeUs kSecond = 1'000'000;
const std::string kAck(1, kACK);
const std::string kNak(1, kNAK);
const std::string kEnq(1, kENQ);
const std::string kEot(1, kEOT);

// Blocks as the loader frames them.
std::string Frame(char start, std::string text, bool bcc) {
    text += kETX;
    std::string block(1, start);
    block += text;
    if (bcc) {
        block += Bcc(text);
    }
    return block;
}

std::string ProgramHeadingText(const std::string& name, int records) {
    char count[8];
    std::snprintf(count, sizeof count, "%05d", records);
    std::string text = name;
    text.resize(12, ' ');
    return text + count;
}

std::string DataHeadingText(const std::string& name, int records, const std::vector<int>& fields) {
    std::string text = ProgramHeadingText(name, records);
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02d", static_cast<int>(fields.size()));
    text += digits;
    for (const int length : fields) {
        std::snprintf(digits, sizeof digits, "%02d", length);
        text += digits;
    }
    return text;
}

std::string DataBlock(int number, const std::string& record, bool seq = true, bool bcc = true) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%05d", number);
    return Frame(kSTX, (seq ? std::string(digits) : std::string()) + record, bcc);
}

std::string ProgramRecord(int number) {
    std::string record = "REC" + std::to_string(number);
    record.resize(128, '0');
    return record;
}

// One receiver fed like the line would feed it, with a clock the test moves.
class Handheld {
  public:
    explicit Handheld(ReceiverOptions options = {}) : receiver(options, now) {}

    // Bytes in, answers out.
    std::string Send(const std::string& bytes) {
        receiver.OnBytes(bytes, now);
        return receiver.TakeOutput();
    }
    std::string Wait(TimeUs time) {
        now += time;
        receiver.OnTick(now);
        return receiver.TakeOutput();
    }
    // Link up and a program heading for NAME with RECORDS records accepted.
    void Start(const std::string& name, int records) {
        ASSERT_EQ(Send(kEnq), kAck);
        ASSERT_EQ(Send(Frame(kSOH, ProgramHeadingText(name, records), bcc())), kAck);
    }
    bool bcc() const { return options_.bcc; }

    TimeUs now = 1000 * kSecond;
    ReceiverOptions options_;
    BlockReceiver receiver;
};

ReceiverOptions With(Faults faults) {
    ReceiverOptions options;
    options.faults = faults;
    return options;
}

TEST(SimBcc, KnownBlockCheck) {
    EXPECT_EQ(Bcc(std::string("00001A") + kETX), 's');
    EXPECT_EQ(DataBlock(1, "A"), std::string("\x02") + "00001A\x03s");
}

TEST(SimHeading, ProgramFileLengthsByExtension) {
    const auto pd3 = ParseHeading(ProgramHeadingText("PROG.PD3", 12));
    ASSERT_TRUE(pd3);
    EXPECT_EQ(pd3->name, "PROG.PD3");
    EXPECT_EQ(pd3->recordCount, 12);
    EXPECT_TRUE(pd3->programFile);
    EXPECT_EQ(pd3->recordLength, 128);
    EXPECT_EQ(ParseHeading(ProgramHeadingText("MENU.FN3", 1))->recordLength, 130);
    EXPECT_EQ(ParseHeading(ProgramHeadingText("X.EX3", 1))->recordLength, 130);
    EXPECT_EQ(ParseHeading(ProgramHeadingText("BIG.PD4", 1))->recordLength, 1024);
    EXPECT_EQ(ParseHeading(ProgramHeadingText("LIB.FN4", 1))->recordLength, 1024);
    EXPECT_EQ(ParseHeading(ProgramHeadingText("SETUP.CAB", 1))->recordLength, 1024);
    EXPECT_EQ(ParseHeading(ProgramHeadingText("prog.pd3", 1))->recordLength, 128);
}

TEST(SimHeading, DataFileRecordLengthIsTheSumOfItsFields) {
    const auto heading = ParseHeading(DataHeadingText("DATA.TXT", 3, {10, 5}));
    ASSERT_TRUE(heading);
    EXPECT_FALSE(heading->programFile);
    EXPECT_EQ(heading->recordLength, 15);
    EXPECT_EQ(heading->fieldLengths, (std::vector<int>{10, 5}));
}

TEST(SimHeading, RefusesMalformedHeadings) {
    std::string problem;
    EXPECT_FALSE(ParseHeading(ProgramHeadingText("DATA.TXT", 1), &problem));  // no field part
    EXPECT_EQ(problem, "data heading without fields");
    EXPECT_FALSE(ParseHeading(ProgramHeadingText("PROG.PD3", 1) + "01"));  // fields on a program
    EXPECT_FALSE(ParseHeading(ProgramHeadingText("PROG.PD3", 40000)));
    EXPECT_FALSE(ParseHeading(ProgramHeadingText("PROG.PD3", 0).replace(13, 1, "x")));
    EXPECT_FALSE(ParseHeading(DataHeadingText("D.TXT", 1, {0})));
    EXPECT_FALSE(ParseHeading(ProgramHeadingText("D.TXT", 1) + "17" + std::string(34, '1')));
    EXPECT_FALSE(ParseHeading(ProgramHeadingText("D.TXT", 1) + "0201"));  // one length short
    // The name becomes a file in the output directory.
    EXPECT_FALSE(ParseHeading(ProgramHeadingText("../X.PD3", 1), &problem));
    EXPECT_EQ(problem, "unusable file name");
    EXPECT_FALSE(ParseHeading(ProgramHeadingText("", 1)));
}

TEST(SimHeading, FieldsCountTowardsTheRecordLimit) {
    std::vector<int> fits(16, 15);
    fits[0] = 14;  // 16 fields, 239 characters: 255 in all
    EXPECT_TRUE(ParseHeading(DataHeadingText("D.TXT", 1, fits)));
    std::vector<int> over(16, 15);  // 240 characters
    EXPECT_FALSE(ParseHeading(DataHeadingText("D.TXT", 1, over)));
}

TEST(SimHeading, PackedRecordLengths) {
    EXPECT_EQ(PackedRecordLength(128), 29);
    EXPECT_EQ(PackedRecordLength(130), 29);
    EXPECT_EQ(PackedRecordLength(1024), 29);
    EXPECT_EQ(PackedRecordLength(42), 29);
    EXPECT_EQ(PackedRecordLength(41), 29);  // one digit of 41-42 still takes a character
    EXPECT_EQ(PackedRecordLength(40), 28);
    EXPECT_EQ(PackedRecordLength(39), 28);  // STOCK.TXT: 13 + 20 + 6
    EXPECT_EQ(PackedRecordLength(35), 26);
    EXPECT_EQ(PackedRecordLength(34), 26);  // the leading "0" alone packs to one character
    EXPECT_EQ(PackedRecordLength(20), 12);
    EXPECT_EQ(PackedRecordLength(18), 10);  // 9, and the leading "0" of the digits from 35
    EXPECT_EQ(PackedRecordLength(1), 10);
}

// The handheld must expect exactly what the loader packs, or every block is refused.
TEST(SimHeading, PackedRecordLengthAgreesWithTheLoader) {
    for (int length = 1; length <= 200; ++length) {
        std::string line;
        for (int i = 0; i < length; ++i) {
            line += static_cast<char>('0' + (i * 7) % 10);
        }
        EXPECT_EQ(static_cast<std::size_t>(PackedRecordLength(length)),
                  quenlo::PackRecord(line).size())
            << "line length " << length;
    }
}

TEST(SimReceiver, GoodTransferWithCheckAndNumbers) {
    Handheld bht;
    EXPECT_EQ(bht.Send("noise"), "");  // nothing before the loader's call means anything
    bht.Start("PROG.PD3", 3);
    ASSERT_TRUE(bht.receiver.heading());
    EXPECT_EQ(bht.receiver.heading()->name, "PROG.PD3");
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(bht.Send(DataBlock(i, ProgramRecord(i))), kAck) << "block " << i;
    }
    EXPECT_FALSE(bht.receiver.finished());
    EXPECT_EQ(bht.Send(kEot), kAck);
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kOk);
    EXPECT_EQ(bht.receiver.TakeRecords(),
              (std::vector<std::string>{ProgramRecord(1), ProgramRecord(2), ProgramRecord(3)}));
    EXPECT_EQ(bht.receiver.naksSent(), 0);
}

TEST(SimReceiver, BlocksSplitAcrossReadsAndStrayBytesBeforeStx) {
    Handheld bht;
    bht.Start("PROG.PD3", 1);
    const std::string block = DataBlock(1, ProgramRecord(1));
    EXPECT_EQ(bht.Send("\x7f\xff"), "");
    EXPECT_EQ(bht.Send(block.substr(0, 50)), "");
    EXPECT_EQ(bht.Send(block.substr(50)), kAck);
    EXPECT_EQ(bht.receiver.TakeRecords(), std::vector<std::string>{ProgramRecord(1)});
}

TEST(SimReceiver, WithoutBlockCheck) {
    ReceiverOptions options;
    options.bcc = false;
    Handheld bht(options);
    ASSERT_EQ(bht.Send(kEnq), kAck);
    ASSERT_EQ(bht.Send(Frame(kSOH, ProgramHeadingText("PROG.PD3", 2), false)), kAck);
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1), true, false)), kAck);
    EXPECT_EQ(bht.Send(DataBlock(2, ProgramRecord(2), true, false)), kAck);
    EXPECT_EQ(bht.Send(kEot), kAck);
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kOk);
    EXPECT_EQ(bht.receiver.TakeRecords().size(), 2u);
}

TEST(SimReceiver, WithoutBlockNumbers) {
    ReceiverOptions options;
    options.seq = false;
    Handheld bht(options);
    bht.Start("PROG.PD3", 2);
    EXPECT_EQ(bht.Send(DataBlock(0, ProgramRecord(1), false)), kAck);
    EXPECT_EQ(bht.Send(DataBlock(0, ProgramRecord(2), false)), kAck);
    // The last block again (its ACK went astray): acknowledged, not kept.
    EXPECT_EQ(bht.Send(DataBlock(0, ProgramRecord(2), false)), kAck);
    EXPECT_EQ(bht.Send(kEot), kAck);
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kOk);
    EXPECT_EQ(bht.receiver.TakeRecords(),
              (std::vector<std::string>{ProgramRecord(1), ProgramRecord(2)}));
}

TEST(SimReceiver, DataFileHeadingSetsTheBlockLength) {
    Handheld bht;
    ASSERT_EQ(bht.Send(kEnq), kAck);
    ASSERT_EQ(bht.Send(Frame(kSOH, DataHeadingText("DATA.TXT", 2, {10, 5}), true)), kAck);
    EXPECT_EQ(bht.receiver.heading()->recordLength, 15);
    const std::string block = DataBlock(1, "ABCDEFGHIJ12345");
    EXPECT_EQ(block.size(), 23u);  // STX, 5 digits, 15, ETX, check
    EXPECT_EQ(bht.Send(block), kAck);
    // One character short of the record: not a block until the stall, then refused.
    EXPECT_EQ(bht.Send(DataBlock(2, "ABCDEFGHIJ1234")), "");
    EXPECT_EQ(bht.Wait(2 * kSecond), kNak);
    EXPECT_EQ(bht.Send(DataBlock(2, "padded    x    ")), kAck);
    EXPECT_EQ(bht.receiver.TakeRecords(),
              (std::vector<std::string>{"ABCDEFGHIJ12345", "padded    x    "}));
}

// A packed record: 9 characters of packed digits, 16 as they are, 4 packed (codes 100..199).
std::string PackedRecord(int number) {
    std::string record(9, static_cast<char>(100 + number % 100));
    record += "NAME " + std::to_string(number);
    record.resize(25, ' ');
    record += std::string(4, static_cast<char>(0xC7));
    return record;
}

TEST(SimReceiver, PackedRecordsAreTakenAsTheyCome) {
    ReceiverOptions options;
    options.packed = true;
    Handheld bht(options);
    bht.Start("PROG.PD3", 2);
    ASSERT_EQ(PackedRecord(1).size(), 29u);
    EXPECT_EQ(bht.Send(DataBlock(1, PackedRecord(1))), kAck);
    // A record at its full length does not fit a packed block: refused when its 29 characters
    // are followed by no ETX.
    const std::string unpacked = DataBlock(2, ProgramRecord(2));
    EXPECT_EQ(bht.Send(unpacked.substr(0, 1 + 5 + 29 + 2)), kNak);
    EXPECT_EQ(bht.Send(DataBlock(2, PackedRecord(2))), kAck);
    EXPECT_EQ(bht.Send(kEot), kAck);
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kOk);
    EXPECT_EQ(bht.receiver.TakeRecords(),
              (std::vector<std::string>{PackedRecord(1), PackedRecord(2)}));
}

TEST(SimReceiver, PackedDataRecordsFollowTheirFieldLengths) {
    ReceiverOptions options;
    options.packed = true;
    options.seq = false;
    Handheld bht(options);
    ASSERT_EQ(bht.Send(kEnq), kAck);
    ASSERT_EQ(bht.Send(Frame(kSOH, DataHeadingText("STOCK.TXT", 1, {13, 20, 6}), true)), kAck);
    const std::string record = PackedRecord(3).substr(0, 28);  // 39 characters pack to 28
    EXPECT_EQ(bht.Send(DataBlock(0, record, false)), kAck);
    EXPECT_EQ(bht.Send(kEot), kAck);
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kOk);
    EXPECT_EQ(bht.receiver.TakeRecords(), std::vector<std::string>{record});
}

TEST(SimReceiver, BadBlockCheckIsRefusedThenTheResendAccepted) {
    Handheld bht;
    bht.Start("PROG.PD3", 1);
    std::string damaged = DataBlock(1, ProgramRecord(1));
    damaged[10] = 'X';
    EXPECT_EQ(bht.Send(damaged), kNak);
    EXPECT_TRUE(bht.receiver.TakeRecords().empty());
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1))), kAck);
    EXPECT_EQ(bht.receiver.TakeRecords(), std::vector<std::string>{ProgramRecord(1)});
    EXPECT_EQ(bht.receiver.naksSent(), 1);
}

TEST(SimReceiver, EtxOutOfPlaceIsRefused) {
    Handheld bht;
    bht.Start("PROG.PD3", 1);
    std::string record = ProgramRecord(1);
    record[5] = kETX;
    EXPECT_EQ(bht.Send(DataBlock(1, record)), kNak);
}

TEST(SimReceiver, MissingCheckAcceptedOnlyWhenItWouldBeNul) {
    Handheld bht;
    ASSERT_EQ(bht.Send(kEnq), kAck);
    ASSERT_EQ(bht.Send(Frame(kSOH, DataHeadingText("D.TXT", 3, {2}), true)), kAck);
    // "00001", "As", ETX exclusive-or to 0: the check is NUL, and it may stay away.
    const std::string nulCheck = DataBlock(1, "As", true, false);
    ASSERT_EQ(Bcc(nulCheck.substr(1)), '\0');
    EXPECT_EQ(bht.Send(nulCheck), kAck);
    // When the NUL does come after all, it is not the start of anything.
    EXPECT_EQ(bht.Send(std::string(1, '\0')), "");
    EXPECT_EQ(bht.Send(DataBlock(2, "AB")), kAck);
    // A non-NUL check missing: the block never completes and is refused at the stall.
    EXPECT_EQ(bht.Send(DataBlock(3, "AB", true, false)), "");
    EXPECT_EQ(bht.Wait(2 * kSecond - 1), "");
    EXPECT_EQ(bht.Wait(1), kNak);
    EXPECT_EQ(bht.receiver.TakeRecords(), (std::vector<std::string>{"As", "AB"}));
}

TEST(SimReceiver, HeadingWithoutItsNulCheckIsAccepted) {
    Handheld bht;
    ASSERT_EQ(bht.Send(kEnq), kAck);
    // A name chosen so that the heading body's exclusive-or is 0.
    const std::string text = ProgramHeadingText("Az.PD3", 1);
    ASSERT_EQ(Bcc(text + kETX), '\0');
    EXPECT_EQ(bht.Send(Frame(kSOH, text, false)), kAck);
}

TEST(SimReceiver, BadHeadingCheckIsRefused) {
    Handheld bht;
    ASSERT_EQ(bht.Send(kEnq), kAck);
    std::string heading = Frame(kSOH, ProgramHeadingText("PROG.PD3", 1), true);
    heading.back() = static_cast<char>(heading.back() ^ 1);
    EXPECT_EQ(bht.Send(heading), kNak);
    EXPECT_FALSE(bht.receiver.heading());
    EXPECT_EQ(bht.Send(Frame(kSOH, ProgramHeadingText("PROG.PD3", 1), true)), kAck);
}

TEST(SimReceiver, MalformedHeadingIsRefused) {
    Handheld bht;
    ASSERT_EQ(bht.Send(kEnq), kAck);
    EXPECT_EQ(bht.Send(Frame(kSOH, ProgramHeadingText("PROG.PD3", 1) + "01", true)), kNak);
    EXPECT_EQ(bht.Send(Frame(kSOH, ProgramHeadingText("DATA.TXT", 1), true)), kNak);
    EXPECT_FALSE(bht.receiver.heading());
}

TEST(SimReceiver, RepeatOfTheLastBlockIsAcknowledgedButKeptOnce) {
    Handheld bht;
    bht.Start("PROG.PD3", 3);
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1))), kAck);
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1))), kAck);
    EXPECT_EQ(bht.Send(DataBlock(2, ProgramRecord(2))), kAck);
    // Two below, or ahead of the expected number: refused.
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1))), kNak);
    EXPECT_EQ(bht.Send(DataBlock(4, ProgramRecord(4))), kNak);
    EXPECT_EQ(bht.Send(DataBlock(3, ProgramRecord(3))), kAck);
    // After the last record a repeat still gets its ACK; a block beyond the count does not.
    EXPECT_EQ(bht.Send(DataBlock(3, ProgramRecord(3))), kAck);
    EXPECT_EQ(bht.Send(DataBlock(4, ProgramRecord(4))), kNak);
    EXPECT_EQ(bht.receiver.TakeRecords(),
              (std::vector<std::string>{ProgramRecord(1), ProgramRecord(2), ProgramRecord(3)}));
    EXPECT_EQ(bht.receiver.recordsReceived(), 3);
}

TEST(SimReceiver, EnqAsksForTheLastAnswerAgain) {
    Handheld bht;
    EXPECT_EQ(bht.Send(kEnq), kAck);
    EXPECT_EQ(bht.Send(kEnq), kAck);  // the loader missed the link ACK
    std::string bad = Frame(kSOH, ProgramHeadingText("PROG.PD3", 1), true);
    bad.back() = static_cast<char>(bad.back() ^ 1);
    EXPECT_EQ(bht.Send(bad), kNak);
    EXPECT_EQ(bht.Send(kEnq), kNak);
    EXPECT_EQ(bht.Send(Frame(kSOH, ProgramHeadingText("PROG.PD3", 1), true)), kAck);
    EXPECT_EQ(bht.Send(kEnq), kAck);
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1))), kAck);
    EXPECT_EQ(bht.Send(kEnq), kAck);
    EXPECT_EQ(bht.receiver.TakeRecords().size(), 1u);
}

TEST(SimReceiver, EotBeforeEveryRecordIsIncomplete) {
    Handheld bht;
    bht.Start("PROG.PD3", 3);
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1))), kAck);
    EXPECT_EQ(bht.Send(kEot), kAck);
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kIncomplete);
    EXPECT_FALSE(bht.receiver.NextDeadline());
    EXPECT_EQ(bht.Send(kEnq), "");  // finished: nothing more is answered
}

TEST(SimReceiver, HeadingWithoutRecordsThenEotIsComplete) {
    Handheld bht;
    bht.Start("EMPTY.PD3", 0);
    EXPECT_EQ(bht.Send(kEot), kAck);
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kOk);
}

TEST(SimReceiver, NakBlockRefusesThatBlockOnce) {
    Faults faults;
    faults.nakBlock = 2;
    Handheld bht(With(faults));
    bht.Start("PROG.PD3", 3);
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1))), kAck);
    EXPECT_EQ(bht.Send(DataBlock(2, ProgramRecord(2))), kNak);
    EXPECT_EQ(bht.Send(DataBlock(2, ProgramRecord(2))), kAck);
    EXPECT_EQ(bht.Send(DataBlock(3, ProgramRecord(3))), kAck);
    EXPECT_EQ(bht.Send(kEot), kAck);
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kOk);
    EXPECT_EQ(bht.receiver.naksSent(), 1);
    EXPECT_EQ(bht.receiver.TakeRecords().size(), 3u);
}

TEST(SimReceiver, NakHeadingRefusesItNTimes) {
    Faults faults;
    faults.nakHeading = 2;
    Handheld bht(With(faults));
    const std::string heading = Frame(kSOH, ProgramHeadingText("PROG.PD3", 1), true);
    ASSERT_EQ(bht.Send(kEnq), kAck);
    EXPECT_EQ(bht.Send(heading), kNak);
    EXPECT_EQ(bht.Send(heading), kNak);
    EXPECT_FALSE(bht.receiver.heading());
    EXPECT_EQ(bht.Send(heading), kAck);
    EXPECT_TRUE(bht.receiver.heading());
    EXPECT_EQ(bht.receiver.naksSent(), 2);
}

TEST(SimReceiver, EotAtBlockAnswersThatBlockWithEot) {
    Faults faults;
    faults.eotAtBlock = 2;
    Handheld bht(With(faults));
    bht.Start("PROG.PD3", 3);
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1))), kAck);
    EXPECT_EQ(bht.Send(DataBlock(2, ProgramRecord(2))), kEot);
    EXPECT_FALSE(bht.receiver.finished());
    EXPECT_EQ(bht.Send(kEot), kAck);  // the loader's closing EOT
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kIncomplete);
    EXPECT_EQ(bht.receiver.TakeRecords(), std::vector<std::string>{ProgramRecord(1)});
}

TEST(SimReceiver, ExitAfterBlockVanishesWithoutAnswer) {
    Faults faults;
    faults.exitAfterBlock = 2;
    Handheld bht(With(faults));
    bht.Start("PROG.PD3", 3);
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1))), kAck);
    EXPECT_EQ(bht.Send(DataBlock(2, ProgramRecord(2))), "");
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kVanished);
    EXPECT_EQ(bht.receiver.recordsReceived(), 1);
}

TEST(SimReceiver, SilentNeverAnswersButEndsAtTheLoadersEot) {
    Faults faults;
    faults.silent = true;
    Handheld bht(With(faults));
    EXPECT_EQ(bht.Send(kEnq), "");
    EXPECT_EQ(bht.Send(kEnq), "");
    EXPECT_EQ(bht.Send(kEnq), "");
    EXPECT_EQ(bht.Send(kEot), "");
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kIncomplete);
    EXPECT_EQ(bht.receiver.naksSent(), 0);
}

TEST(SimReceiver, DroppedAnswersAreRecoveredByEnqAndResend) {
    Faults faults;
    faults.dropAnswerEvery = 2;
    Handheld bht(With(faults));
    const std::string heading = Frame(kSOH, ProgramHeadingText("PROG.PD3", 2), true);
    EXPECT_EQ(bht.Send(kEnq), kAck);                            // answer 1
    EXPECT_EQ(bht.Send(heading), "");                           // answer 2, dropped
    EXPECT_EQ(bht.Send(kEnq), kAck);                            // the loader asks again: 3
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1))), "");    // 4, dropped
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1))), kAck);  // resent, a repeat: 5
    EXPECT_EQ(bht.Send(DataBlock(2, ProgramRecord(2))), "");    // 6, dropped
    EXPECT_EQ(bht.Send(DataBlock(2, ProgramRecord(2))), kAck);  // 7
    EXPECT_EQ(bht.Send(kEot), "");  // 8, dropped: the loader sends EOT again
    EXPECT_FALSE(bht.receiver.finished());
    EXPECT_EQ(bht.Send(kEot), kAck);
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kOk);
    EXPECT_EQ(bht.receiver.TakeRecords(),
              (std::vector<std::string>{ProgramRecord(1), ProgramRecord(2)}));
}

TEST(SimReceiver, CorruptEveryNthBlockIsRefusedAndTheResendKept) {
    Faults faults;
    faults.corruptEvery = 2;
    faults.seed = 7;
    Handheld bht(With(faults));
    bht.Start("PROG.PD3", 3);
    // Arrivals 2 and 4 are damaged on the way in.
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1))), kAck);
    EXPECT_EQ(bht.Send(DataBlock(2, ProgramRecord(2))), kNak);
    EXPECT_EQ(bht.Send(DataBlock(2, ProgramRecord(2))), kAck);
    EXPECT_EQ(bht.Send(DataBlock(3, ProgramRecord(3))), kNak);
    EXPECT_EQ(bht.Send(DataBlock(3, ProgramRecord(3))), kAck);
    EXPECT_EQ(bht.receiver.naksSent(), 2);
    EXPECT_EQ(bht.receiver.TakeRecords(),
              (std::vector<std::string>{ProgramRecord(1), ProgramRecord(2), ProgramRecord(3)}));
}

TEST(SimReceiver, CorruptionDependsOnTheSeedOnly) {
    auto notes = [](std::uint32_t seed) {
        Faults faults;
        faults.corruptEvery = 1;
        faults.seed = seed;
        Handheld bht(With(faults));
        bht.Start("PROG.PD3", 1);
        bht.Send(DataBlock(1, ProgramRecord(1)));
        return bht.receiver.TakeNotes();
    };
    EXPECT_EQ(notes(3), notes(3));
    EXPECT_NE(notes(3), notes(4));
}

TEST(SimReceiver, StalledBlockIsDroppedAndRefused) {
    Handheld bht;
    bht.Start("PROG.PD3", 1);
    const std::string block = DataBlock(1, ProgramRecord(1));
    EXPECT_EQ(bht.Send(block.substr(0, 40)), "");
    EXPECT_EQ(bht.receiver.NextDeadline(), bht.now + 2 * kSecond);
    EXPECT_EQ(bht.Wait(2 * kSecond - 1), "");
    EXPECT_EQ(bht.Wait(1), kNak);
    // Back in step: the whole block sent again is taken.
    EXPECT_EQ(bht.Send(block), kAck);
}

TEST(SimReceiver, LateBytesOfAStalledBlockDoNotJoinIt) {
    Handheld bht;
    bht.Start("PROG.PD3", 1);
    const std::string block = DataBlock(1, ProgramRecord(1));
    EXPECT_EQ(bht.Send(block.substr(0, 40)), "");
    bht.now += 3 * kSecond;  // no tick in between: the next bytes find the stall first
    EXPECT_EQ(bht.Send(block.substr(40)), kNak);
    EXPECT_TRUE(bht.receiver.TakeRecords().empty());
}

TEST(SimReceiver, GivesUpWhenTheLineStaysQuiet) {
    ReceiverOptions options;
    options.idleTimeoutUs = 60 * kSecond;
    Handheld bht(options);
    EXPECT_EQ(bht.receiver.NextDeadline(), bht.now + 60 * kSecond);
    bht.Wait(60 * kSecond - 1);
    EXPECT_FALSE(bht.receiver.finished());
    bht.Send(kEnq);  // any byte restarts the wait
    bht.Wait(60 * kSecond - 1);
    EXPECT_FALSE(bht.receiver.finished());
    bht.Wait(1);
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kTimeout);
}

TEST(SimPacer, HoldsEachByteForTenBitTimes) {
    LinePacer pacer(9600);
    pacer.Enqueue("ab", 0);
    EXPECT_EQ(pacer.NextDue(), 1041);  // 10 / 9600 s
    EXPECT_EQ(pacer.TakeDue(1040), "");
    EXPECT_EQ(pacer.TakeDue(1041), "a");
    EXPECT_EQ(pacer.NextDue(), 2083);
    EXPECT_EQ(pacer.TakeDue(5000), "b");
    EXPECT_TRUE(pacer.empty());
    EXPECT_FALSE(pacer.NextDue());
    // After an idle line a byte starts when it is queued.
    pacer.Enqueue("c", 10'000);
    EXPECT_EQ(pacer.NextDue(), 11'041);
}

TEST(SimPacer, LongRunsKeepTheRate) {
    LinePacer pacer(115200);
    pacer.Enqueue(std::string(11520, 'x'), 0);
    EXPECT_EQ(pacer.TakeDue(999'999).size(), 11519u);
    EXPECT_EQ(pacer.TakeDue(1'000'000).size(), 1u);
}

TEST(SimPacer, WithoutRateEverythingIsDueAtOnce) {
    LinePacer pacer(0);
    pacer.Enqueue("xyz", 5);
    EXPECT_EQ(pacer.TakeDue(5), "xyz");
}

// The session holds received bytes back the same way: a block read from the line in one piece is
// through only when its last byte would have crossed it.
TEST(SimPacer, ReceivedBlockIsThroughWithItsLastByte) {
    LinePacer inbound(115200);
    const std::string block(136, 'b');  // a program record with check and number
    inbound.Enqueue(block, 1000);
    EXPECT_EQ(inbound.NextDue(), 1086);  // 10 / 115200 s after it came
    EXPECT_EQ(inbound.TakeDue(1000 + 11'804).size(), 135u);
    EXPECT_EQ(inbound.NextDue(), 1000 + 11'805);  // 1360 / 115200 s = 11805.6 us
    EXPECT_EQ(inbound.TakeDue(1000 + 11'805).size(), 1u);
}

TEST(SimPacer, BytesReadWhileTheLineIsBusyQueueBehindIt) {
    LinePacer inbound(9600);
    inbound.Enqueue("ab", 0);  // through at 1041 and 2083
    inbound.Enqueue("c", 500);
    // max(500, 2083) + 1041.7, with the remainder kept: 3 x 10 / 9600 s exactly.
    inbound.TakeDue(2083);
    EXPECT_EQ(inbound.NextDue(), 3125);
    EXPECT_EQ(inbound.TakeDue(3125), "c");
    // Bytes read together later, on an idle line, start when they were read.
    inbound.Enqueue("de", 10'000);
    EXPECT_EQ(inbound.TakeDue(11'041), "d");
    EXPECT_EQ(inbound.TakeDue(12'083), "e");
}

// One stop-and-wait exchange at 115200 Bd: the block crosses, the answer is queued the moment it
// is through and crosses back one byte time later.
TEST(SimPacer, AnswerLeavesOnlyAfterTheWholeBlockCrossed) {
    LinePacer inbound(115200);
    LinePacer outbound(inbound.baud());
    inbound.Enqueue(std::string(136, 'b'), 0);
    EXPECT_EQ(inbound.TakeDue(11'804).size(), 135u);
    EXPECT_EQ(inbound.TakeDue(11'805).size(), 1u);
    outbound.Enqueue(kAck, 11'805);
    EXPECT_EQ(outbound.TakeDue(11'890), "");
    EXPECT_EQ(outbound.NextDue(), 11'891);  // one byte time, 86.8 us, later
    EXPECT_EQ(outbound.TakeDue(11'891), kAck);
}

TEST(SimPacer, WithoutRateReceivedBytesPassAtOnce) {
    LinePacer inbound(0);
    inbound.Enqueue(std::string(136, 'b'), 7);
    EXPECT_EQ(inbound.NextDue(), 7);
    EXPECT_EQ(inbound.TakeDue(7).size(), 136u);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SimRecordSink, WritesLinesUnderTheNameOnlyWhenCommitted) {
    quenlo::testing::TempDir dir;
    std::string error;
    RecordSink sink;
    ASSERT_TRUE(sink.Open(dir.path(), "DATA.TXT", &error)) << error;
    ASSERT_TRUE(sink.Append("abc  ", &error));
    ASSERT_TRUE(sink.Append("de   ", &error));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "DATA.TXT"));
    ASSERT_TRUE(sink.Commit(&error)) << error;
    EXPECT_EQ(ReadFile(dir.path() / "DATA.TXT"), "abc  \r\nde   \r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(SimRecordSink, AbandonedFileLeavesNothing) {
    quenlo::testing::TempDir dir;
    std::string error;
    {
        RecordSink sink;
        ASSERT_TRUE(sink.Open(dir.path(), "PROG.PD3", &error));
        ASSERT_TRUE(sink.Append("x", &error));
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(SimRecordSink, MissingDirectoryIsReported) {
    quenlo::testing::TempDir dir;
    std::string error;
    RecordSink sink;
    EXPECT_FALSE(sink.Open(dir.path() / "absent", "PROG.PD3", &error));
    EXPECT_NE(error.find("absent"), std::string::npos);
}

// The loader's end of a socket pair: writes blocks and waits (in poll, bounded) for answers.
class Loader {
  public:
    explicit Loader(int fd) : fd_(fd) {}
    std::string Exchange(const std::string& bytes) {
        Write(bytes);
        return Answer();
    }
    void Write(const std::string& bytes) {
        EXPECT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::string Answer() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 10'000) != 1) {
            return "<none>";
        }
        char c = 0;
        return ::read(fd_, &c, 1) == 1 ? std::string(1, c) : "<closed>";
    }

  private:
    int fd_;
};

class SimSession : public ::testing::Test {
  protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        line_ = fds[0];
        loaderFd_ = fds[1];
        ::fcntl(line_, F_SETFL, ::fcntl(line_, F_GETFL) | O_NONBLOCK);
        ASSERT_EQ(::pipe(stop_), 0);
    }
    void TearDown() override {
        for (const int fd : {line_, loaderFd_, stop_[0], stop_[1]}) {
            ::close(fd);
        }
    }
    SessionReport Run(ReceiverOptions options, int baud, const std::function<void(Loader&)>& play) {
        SessionSetup setup;
        setup.fd = line_;
        setup.stopFd = stop_[0];
        setup.dir = dir_.path();
        BlockReceiver receiver(options, MonotonicNow());
        LinePacer pacer(baud);
        SessionReport report;
        std::thread sim([&] { report = RunSession(setup, receiver, pacer); });
        Loader loader(loaderFd_);
        play(loader);
        sim.join();
        return report;
    }

    quenlo::testing::TempDir dir_;
    int line_ = -1;
    int loaderFd_ = -1;
    int stop_[2] = {-1, -1};
};

TEST_F(SimSession, ReceivesAFileOverTheLine) {
    const auto report = Run({}, 0, [](Loader& loader) {
        EXPECT_EQ(loader.Exchange(kEnq), kAck);
        EXPECT_EQ(loader.Exchange(Frame(kSOH, DataHeadingText("DATA.TXT", 2, {10, 5}), true)),
                  kAck);
        EXPECT_EQ(loader.Exchange(DataBlock(1, "first     one  ")), kAck);
        EXPECT_EQ(loader.Exchange(DataBlock(2, "second    two  ")), kAck);
        EXPECT_EQ(loader.Exchange(kEot), kAck);
    });
    EXPECT_EQ(report.SummaryLine(), "bht-sim: received DATA.TXT records=2/2 naks=0 status=ok");
    EXPECT_EQ(report.exitCode(), 0);
    EXPECT_EQ(ReadFile(dir_.path() / "DATA.TXT"), "first     one  \r\nsecond    two  \r\n");
}

TEST_F(SimSession, PacedAnswersStillArrive) {
    const auto report = Run({}, 9600, [](Loader& loader) {
        EXPECT_EQ(loader.Exchange(kEnq), kAck);
        EXPECT_EQ(loader.Exchange(Frame(kSOH, ProgramHeadingText("P.PD3", 1), true)), kAck);
        EXPECT_EQ(loader.Exchange(DataBlock(1, ProgramRecord(1))), kAck);
        EXPECT_EQ(loader.Exchange(kEot), kAck);
    });
    EXPECT_EQ(report.status(), "ok");
}

TEST_F(SimSession, IncompleteTransferLeavesNoFile) {
    const auto report = Run({}, 0, [](Loader& loader) {
        EXPECT_EQ(loader.Exchange(kEnq), kAck);
        EXPECT_EQ(loader.Exchange(Frame(kSOH, ProgramHeadingText("PROG.PD3", 2), true)), kAck);
        EXPECT_EQ(loader.Exchange(DataBlock(1, ProgramRecord(1))), kAck);
        EXPECT_EQ(loader.Exchange(kEot), kAck);
    });
    EXPECT_EQ(report.SummaryLine(),
              "bht-sim: received PROG.PD3 records=1/2 naks=0 status=incomplete");
    EXPECT_EQ(report.exitCode(), 1);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(SimSession, VanishingEndsWithoutAnswerOrFile) {
    Faults faults;
    faults.exitAfterBlock = 1;
    const auto report = Run(With(faults), 0, [](Loader& loader) {
        EXPECT_EQ(loader.Exchange(kEnq), kAck);
        EXPECT_EQ(loader.Exchange(Frame(kSOH, ProgramHeadingText("PROG.PD3", 2), true)), kAck);
        loader.Write(DataBlock(1, ProgramRecord(1)));
    });
    EXPECT_EQ(report.SummaryLine(),
              "bht-sim: received PROG.PD3 records=0/2 naks=0 status=vanished");
    EXPECT_EQ(report.exitCode(), 4);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
    char c = 0;
    EXPECT_EQ(::recv(loaderFd_, &c, 1, MSG_DONTWAIT), -1);  // no answer to block 1
}

TEST_F(SimSession, StopRequestEndsTheSession) {
    const auto report = Run({}, 0, [this](Loader& loader) {
        EXPECT_EQ(loader.Exchange(kEnq), kAck);
        EXPECT_EQ(loader.Exchange(Frame(kSOH, ProgramHeadingText("PROG.PD3", 2), true)), kAck);
        ASSERT_EQ(::write(stop_[1], "x", 1), 1);
    });
    EXPECT_EQ(report.status(), "error");
    EXPECT_EQ(report.failure, "stopped by a signal");
    EXPECT_EQ(report.exitCode(), 1);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(SimSession, QuietLineTimesOut) {
    ReceiverOptions options;
    options.idleTimeoutUs = 50'000;  // the session's own limit, not a sleep of the test's
    const auto report = Run(options, 0, [](Loader&) {});
    EXPECT_EQ(report.SummaryLine(), "bht-sim: received - records=0/0 naks=0 status=timeout");
    EXPECT_EQ(report.exitCode(), 3);
}

}  // namespace
}  // namespace quenlo::sim
