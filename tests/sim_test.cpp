// The simulated handheld's receiving side: heading and block checks, answers, the fault switches,
// output pacing, the received file, and the loop that drives it all over a line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <map>
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

using Records = std::vector<std::string>;

constexpr TimeUs kSecond = 1'000'000;
const std::string kAck(1, chACK);
const std::string kNak(1, chNAK);
const std::string kEnq(1, chENQ);
const std::string kEot(1, chEOT);

std::string Digits(int value, std::size_t width) {
    const std::string text = std::to_string(value);
    return std::string(width > text.size() ? width - text.size() : 0, '0') + text;
}

// Blocks as the loader frames them.
std::string Frame(char start, std::string text, bool bcc = true) {
    text += chETX;
    return start + text + (bcc ? std::string(1, Bcc(text)) : std::string());
}

std::string ProgramHeadingText(std::string name, int records) {
    name.resize(12, ' ');
    return name + Digits(records, 5);
}

std::string DataHeadingText(const std::string& name, int records, const std::vector<int>& fields) {
    std::string text =
        ProgramHeadingText(name, records) + Digits(static_cast<int>(fields.size()), 2);
    for (const int length : fields) {
        text += Digits(length, 2);
    }
    return text;
}

std::string DataBlock(int number, const std::string& record, bool seq = true, bool bcc = true) {
    return Frame(chSTX, (seq ? Digits(number, 5) : std::string()) + record, bcc);
}

std::string ProgramRecord(int number) {
    std::string record = "REC" + std::to_string(number);
    record.resize(128, '0');
    return record;
}

// Program records 1 to n.
Records ProgramRecords(int n) {
    Records records;
    for (int i = 1; i <= n; ++i) {
        records.push_back(ProgramRecord(i));
    }
    return records;
}

// One receiver fed like the line would feed it, with a clock the test moves.
class Handheld {
  public:
    explicit Handheld(ReceiverOptions options = {}) : options(options), receiver(options, now) {}

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
    std::string Heading(const std::string& text) { return Send(Frame(chSOH, text, options.bcc)); }
    // Link up and the heading accepted.
    void Start(const std::string& headingText) {
        ASSERT_EQ(Send(kEnq), kAck);
        ASSERT_EQ(Heading(headingText), kAck);
    }
    void Start(const std::string& name, int records) { Start(ProgramHeadingText(name, records)); }

    ReceiverOptions options;
    TimeUs now = 1000 * kSecond;
    BlockReceiver receiver;
};

// Blocks with or without their check byte and their number (loader +PB, +SN).
ReceiverOptions Framed(bool bcc, bool seq) {
    ReceiverOptions options;
    options.bcc = bcc;
    options.seq = seq;
    return options;
}

ReceiverOptions With(Faults faults) {
    ReceiverOptions options;
    options.faults = faults;
    return options;
}

TEST(SimBcc, KnownBlockCheck) {
    EXPECT_EQ(Bcc(std::string("00001A") + chETX), 's');
    EXPECT_EQ(DataBlock(1, "A"), std::string("\x02") + "00001A\x03s");
}

TEST(SimHeading, ProgramLengthByExtensionDataLengthByFields) {
    const auto pd3 = ParseHeading(ProgramHeadingText("PROG.PD3", 12));
    ASSERT_TRUE(pd3);
    EXPECT_EQ(pd3->name, "PROG.PD3");
    EXPECT_EQ(pd3->recordCount, 12);
    EXPECT_TRUE(pd3->programFile);
    EXPECT_EQ(pd3->recordLength, 128);
    const std::pair<const char*, int> programs[] = {{"MENU.FN3", 130},   {"X.EX3", 130},
                                                    {"BIG.PD4", 1024},   {"LIB.FN4", 1024},
                                                    {"SETUP.CAB", 1024}, {"prog.pd3", 128}};
    for (const auto& [name, length] : programs) {
        EXPECT_EQ(ParseHeading(ProgramHeadingText(name, 1))->recordLength, length) << name;
    }

    const auto data = ParseHeading(DataHeadingText("DATA.TXT", 3, {10, 5}));
    ASSERT_TRUE(data);
    EXPECT_FALSE(data->programFile);
    EXPECT_EQ(data->recordLength, 15);
    EXPECT_EQ(data->fieldLengths, (std::vector<int>{10, 5}));
    // The fields count towards the limit: 16 fields and 239 characters make 255 in all.
    std::vector<int> fields(16, 15);
    EXPECT_FALSE(ParseHeading(DataHeadingText("D.TXT", 1, fields)));
    fields[0] = 14;
    EXPECT_TRUE(ParseHeading(DataHeadingText("D.TXT", 1, fields)));
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

// The handheld must expect exactly what the loader packs, or every block is refused.
TEST(SimHeading, PackedRecordLengthsAgreeWithTheLoader) {
    // 41: one digit of 41-42 still takes a character. 39: STOCK.TXT, 13 + 20 + 6. 34: the leading
    // "0" alone packs to one character. 18: 9, and the leading "0" of the digits from 35.
    const std::pair<int, int> rows[] = {{128, 29}, {130, 29}, {1024, 29}, {42, 29},
                                        {41, 29},  {40, 28},  {39, 28},   {35, 26},
                                        {34, 26},  {20, 12},  {18, 10},   {1, 10}};
    for (const auto& [line, packed] : rows) {
        EXPECT_EQ(PackedRecordLength(line), packed) << "line length " << line;
    }
    std::string line;
    for (int length = 1; length <= 200; ++length) {
        line += static_cast<char>('0' + (length * 7) % 10);
        EXPECT_EQ(static_cast<std::size_t>(PackedRecordLength(length)),
                  quenlo::PackRecord(line).size())
            << "line length " << length;
    }
}

TEST(SimReceiver, DataFileHeadingSetsTheBlockLength) {
    Handheld bht;
    bht.Start(DataHeadingText("DATA.TXT", 2, {10, 5}));
    EXPECT_EQ(bht.receiver.heading()->recordLength, 15);
    const std::string block = DataBlock(1, "ABCDEFGHIJ12345");
    EXPECT_EQ(block.size(), 23u);  // STX, 5 digits, 15, ETX, check
    EXPECT_EQ(bht.Send(block), kAck);
    // One character short of the record: not a block until the stall, then refused.
    EXPECT_EQ(bht.Send(DataBlock(2, "ABCDEFGHIJ1234")), "");
    EXPECT_EQ(bht.Wait(2 * kSecond), kNak);
    EXPECT_EQ(bht.Send(DataBlock(2, "padded    x    ")), kAck);
    EXPECT_EQ(bht.receiver.TakeRecords(), (Records{"ABCDEFGHIJ12345", "padded    x    "}));
}

// A packed record: 9 characters of packed digits, 16 as they are, 4 packed (codes 100..199).
std::string PackedRecord(int number) {
    std::string record(9, static_cast<char>(100 + number % 100));
    record += "NAME " + std::to_string(number);
    record.resize(25, ' ');
    return record + std::string(4, static_cast<char>(0xC7));
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
    EXPECT_EQ(bht.Send(DataBlock(2, ProgramRecord(2)).substr(0, 1 + 5 + 29 + 2)), kNak);
    EXPECT_EQ(bht.Send(DataBlock(2, PackedRecord(2))), kAck);
    EXPECT_EQ(bht.Send(kEot), kAck);
    EXPECT_EQ(bht.receiver.outcome(), Outcome::kOk);
    EXPECT_EQ(bht.receiver.TakeRecords(), (Records{PackedRecord(1), PackedRecord(2)}));

    // Packed data records follow their field lengths: 39 characters pack to 28.
    options.seq = false;
    Handheld stock(options);
    stock.Start(DataHeadingText("STOCK.TXT", 1, {13, 20, 6}));
    const std::string record = PackedRecord(3).substr(0, 28);
    EXPECT_EQ(stock.Send(DataBlock(0, record, false)), kAck);
    EXPECT_EQ(stock.Send(kEot), kAck);
    EXPECT_EQ(stock.receiver.outcome(), Outcome::kOk);
    EXPECT_EQ(stock.receiver.TakeRecords(), Records{record});
}

TEST(SimReceiver, MissingCheckAcceptedOnlyWhenItWouldBeNul) {
    Handheld bht;
    bht.Start(DataHeadingText("D.TXT", 3, {2}));
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
    EXPECT_EQ(bht.receiver.TakeRecords(), (Records{"As", "AB"}));

    // A heading whose body's exclusive-or is 0 may come without its check too.
    Handheld az;
    ASSERT_EQ(az.Send(kEnq), kAck);
    const std::string text = ProgramHeadingText("Az.PD3", 1);
    ASSERT_EQ(Bcc(text + chETX), '\0');
    EXPECT_EQ(az.Send(Frame(chSOH, text, false)), kAck);
}

TEST(SimReceiver, BadHeadingsAreRefusedAndEnqAsksForTheLastAnswerAgain) {
    Handheld bht;
    EXPECT_EQ(bht.Send(kEnq), kAck);
    EXPECT_EQ(bht.Send(kEnq), kAck);  // the loader missed the link ACK
    std::string badCheck = Frame(chSOH, ProgramHeadingText("PROG.PD3", 1));
    badCheck.back() = static_cast<char>(badCheck.back() ^ 1);
    EXPECT_EQ(bht.Send(badCheck), kNak);
    EXPECT_EQ(bht.Send(kEnq), kNak);
    EXPECT_EQ(bht.Heading(ProgramHeadingText("PROG.PD3", 1) + "01"), kNak);
    EXPECT_EQ(bht.Heading(ProgramHeadingText("DATA.TXT", 1)), kNak);
    EXPECT_FALSE(bht.receiver.heading());
    EXPECT_EQ(bht.Heading(ProgramHeadingText("PROG.PD3", 1)), kAck);
    EXPECT_EQ(bht.Send(kEnq), kAck);
    EXPECT_EQ(bht.Send(DataBlock(1, ProgramRecord(1))), kAck);
    EXPECT_EQ(bht.Send(kEnq), kAck);
    EXPECT_EQ(bht.receiver.TakeRecords().size(), 1u);
}

// Runs a script of exchanges, "SENT>ANSWER" each. SENT is NOISE, ENQ, EOT, HEAD (the heading of
// PROG.PD3 with `records` records), the number of a program record's block, or block 1 damaged:
// BADBCC with a byte changed, BADETX with an ETX inside the record. Heading and blocks are framed
// as the handheld expects. ANSWER is ACK, NAK, EOT or "-" for none.
void Play(Handheld& bht, int records, const std::string& script) {
    const bool bcc = bht.options.bcc;
    const bool seq = bht.options.seq;
    const auto bytes = [&](const std::string& token) {
        const std::map<std::string, std::string> named = {
            {"NOISE", "noise"},
            {"ENQ", kEnq},
            {"EOT", kEot},
            {"ACK", kAck},
            {"NAK", kNak},
            {"-", ""},
            {"HEAD", Frame(chSOH, ProgramHeadingText("PROG.PD3", records), bcc)}};
        if (named.count(token) != 0) {
            return named.at(token);
        }
        std::string record = ProgramRecord(1);
        if (token == "BADETX") {
            record[5] = chETX;
            return DataBlock(1, record);
        }
        if (token == "BADBCC") {
            std::string block = DataBlock(1, record);
            block[10] = 'X';
            return block;
        }
        return DataBlock(std::stoi(token), ProgramRecord(std::stoi(token)), seq, bcc);
    };
    std::istringstream in(script);
    for (std::string step; in >> step;) {
        const auto arrow = step.find('>');
        ASSERT_NE(arrow, std::string::npos) << step;
        EXPECT_EQ(bht.Send(bytes(step.substr(0, arrow))), bytes(step.substr(arrow + 1))) << step;
    }
}

TEST(SimReceiver, ScriptedExchangesAndFaultSwitches) {
    // Nothing before the loader's call means anything. The last block again (its ACK went
    // astray) is acknowledged, not kept.
    const char* goodTransfer = "NOISE>- ENQ>ACK HEAD>ACK 1>ACK 2>ACK 3>ACK 3>ACK EOT>ACK";
    // What the handheld is told to do, the records the heading announces, the script, and how it
    // ends: outcome, NAKs sent, and program records 1 to `kept` received.
    const std::tuple<const char*, ReceiverOptions, int, const char*, Outcome, int, int> rows[] = {
        {"+PB +SN", Framed(true, true), 3, goodTransfer, Outcome::kOk, 0, 3},
        {"-PB +SN", Framed(false, true), 3, goodTransfer, Outcome::kOk, 0, 3},
        {"+PB -SN", Framed(true, false), 3, goodTransfer, Outcome::kOk, 0, 3},
        {"-PB -SN", Framed(false, false), 3, goodTransfer, Outcome::kOk, 0, 3},
        // After the last record a repeat still gets its ACK; a block beyond the count does not.
        {"repeat of the last block acknowledged but kept once; two below or ahead refused",
         With({}), 3, "ENQ>ACK HEAD>ACK 1>ACK 1>ACK 2>ACK 1>NAK 4>NAK 3>ACK 3>ACK 4>NAK",
         Outcome::kRunning, 3, 3},
        {"damaged check or ETX out of place refused, then the resend accepted", With({}), 1,
         "ENQ>ACK HEAD>ACK BADBCC>NAK BADETX>NAK 1>ACK", Outcome::kRunning, 2, 1},
        {"EOT before every record is incomplete; then nothing more is answered", With({}), 3,
         "ENQ>ACK HEAD>ACK 1>ACK EOT>ACK ENQ>-", Outcome::kIncomplete, 0, 1},
        {"heading without records, then EOT", With({}), 0, "ENQ>ACK HEAD>ACK EOT>ACK", Outcome::kOk,
         0, 0},
        {"--nak-block refuses that block once", With({.nakBlock = 2}), 3,
         "ENQ>ACK HEAD>ACK 1>ACK 2>NAK 2>ACK 3>ACK EOT>ACK", Outcome::kOk, 1, 3},
        {"--eot-at-block answers that block with EOT, then takes the loader's closing EOT",
         With({.eotAtBlock = 2}), 3, "ENQ>ACK HEAD>ACK 1>ACK 2>EOT EOT>ACK", Outcome::kIncomplete,
         0, 1},
        {"--exit-after-block vanishes without an answer", With({.exitAfterBlock = 2}), 3,
         "ENQ>ACK HEAD>ACK 1>ACK 2>-", Outcome::kVanished, 0, 1},
        {"--silent never answers but ends at the loader's EOT", With({.silent = true}), 1,
         "ENQ>- ENQ>- ENQ>- EOT>-", Outcome::kIncomplete, 0, 0},
        // Answers 2, 4, 6 and 8 are dropped: the loader asks again with ENQ, or sends again.
        {"--drop-answer-every 2: recovered by ENQ and resend", With({.dropAnswerEvery = 2}), 2,
         "ENQ>ACK HEAD>- ENQ>ACK 1>- 1>ACK 2>- 2>ACK EOT>- EOT>ACK", Outcome::kOk, 0, 2},
        {"--corrupt-every 2 damages arrivals 2 and 4; the resends are kept",
         With({.corruptEvery = 2, .seed = 7}), 3, "ENQ>ACK HEAD>ACK 1>ACK 2>NAK 2>ACK 3>NAK 3>ACK",
         Outcome::kRunning, 2, 3},
    };
    for (const auto& [name, options, records, script, outcome, naks, kept] : rows) {
        SCOPED_TRACE(name);
        Handheld bht(options);
        Play(bht, records, script);
        EXPECT_EQ(bht.receiver.outcome(), outcome);
        EXPECT_EQ(bht.receiver.naksSent(), naks);
        EXPECT_EQ(bht.receiver.recordsReceived(), kept);
        EXPECT_EQ(bht.receiver.TakeRecords(), ProgramRecords(kept));
        if (bht.receiver.finished()) {
            EXPECT_FALSE(bht.receiver.NextDeadline());
        }
    }
}

TEST(SimReceiver, NakHeadingRefusesItNTimes) {
    Faults faults;
    faults.nakHeading = 2;
    Handheld bht(With(faults));
    Play(bht, 1, "ENQ>ACK HEAD>NAK HEAD>NAK");
    EXPECT_FALSE(bht.receiver.heading());
    Play(bht, 1, "HEAD>ACK");
    EXPECT_TRUE(bht.receiver.heading());
    EXPECT_EQ(bht.receiver.naksSent(), 2);
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

TEST(SimReceiver, BlocksSplitAcrossReadsAndStalledBlocks) {
    Handheld bht;
    bht.Start("PROG.PD3", 2);
    const std::string block = DataBlock(1, ProgramRecord(1));
    EXPECT_EQ(bht.Send("\x7f\xff"), "");  // stray bytes before STX
    EXPECT_EQ(bht.Send(block.substr(0, 50)), "");
    EXPECT_EQ(bht.Send(block.substr(50)), kAck);
    EXPECT_EQ(bht.receiver.TakeRecords(), ProgramRecords(1));

    // A block whose bytes stop coming is dropped and refused.
    const std::string second = DataBlock(2, ProgramRecord(2));
    EXPECT_EQ(bht.Send(second.substr(0, 40)), "");
    EXPECT_EQ(bht.receiver.NextDeadline(), bht.now + 2 * kSecond);
    EXPECT_EQ(bht.Wait(2 * kSecond - 1), "");
    EXPECT_EQ(bht.Wait(1), kNak);
    // Back in step: the whole block sent again is taken.
    EXPECT_EQ(bht.Send(second), kAck);

    // Without a tick in between, late bytes find the stall first and do not join the block.
    Handheld late;
    late.Start("PROG.PD3", 1);
    EXPECT_EQ(late.Send(block.substr(0, 40)), "");
    late.now += 3 * kSecond;
    EXPECT_EQ(late.Send(block.substr(40)), kNak);
    EXPECT_TRUE(late.receiver.TakeRecords().empty());
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

// The session holds received bytes back the same way as sent ones.
TEST(SimPacer, HoldsEachByteForTenBitTimesBehindTheOneBefore) {
    LinePacer pacer(9600);
    pacer.Enqueue("ab", 0);  // through at 1041 and 2083: 10 / 9600 s each
    pacer.Enqueue("c", 500);
    EXPECT_EQ(pacer.NextDue(), 1041);
    EXPECT_EQ(pacer.TakeDue(1040), "");
    EXPECT_EQ(pacer.TakeDue(1041), "a");
    EXPECT_EQ(pacer.NextDue(), 2083);
    EXPECT_EQ(pacer.TakeDue(2083), "b");
    // Read while the line was busy: max(500, 2083) + 1041.7, with the remainder kept.
    EXPECT_EQ(pacer.NextDue(), 3125);
    EXPECT_EQ(pacer.TakeDue(3125), "c");
    EXPECT_TRUE(pacer.empty());
    EXPECT_FALSE(pacer.NextDue());
    // Bytes read together later, on an idle line, start when they were read.
    pacer.Enqueue("de", 10'000);
    EXPECT_EQ(pacer.NextDue(), 11'041);
    EXPECT_EQ(pacer.TakeDue(11'041), "d");
    EXPECT_EQ(pacer.TakeDue(12'083), "e");
}

TEST(SimPacer, LongRunsKeepTheRate) {
    LinePacer pacer(115200);
    pacer.Enqueue(std::string(11520, 'x'), 0);
    EXPECT_EQ(pacer.TakeDue(999'999).size(), 11519u);
    EXPECT_EQ(pacer.TakeDue(1'000'000).size(), 1u);
}

// One stop-and-wait exchange at 115200 Bd: a block read from the line in one piece is through
// only when its last byte would have crossed it; the answer is queued that moment and crosses back
// one byte time later.
TEST(SimPacer, AnswerLeavesOnlyAfterTheWholeBlockCrossed) {
    LinePacer inbound(115200);
    LinePacer outbound(inbound.baud());
    inbound.Enqueue(std::string(136, 'b'), 1000);  // a program record with check and number
    EXPECT_EQ(inbound.NextDue(), 1086);            // 10 / 115200 s after it came
    EXPECT_EQ(inbound.TakeDue(1000 + 11'804).size(), 135u);
    EXPECT_EQ(inbound.NextDue(), 1000 + 11'805);  // 1360 / 115200 s = 11805.6 us
    EXPECT_EQ(inbound.TakeDue(1000 + 11'805).size(), 1u);
    outbound.Enqueue(kAck, 12'805);
    EXPECT_EQ(outbound.TakeDue(12'890), "");
    EXPECT_EQ(outbound.NextDue(), 12'891);  // one byte time, 86.8 us, later
    EXPECT_EQ(outbound.TakeDue(12'891), kAck);
}

TEST(SimPacer, WithoutRateEverythingIsDueAtOnce) {
    LinePacer pacer(0);
    pacer.Enqueue("xyz", 5);
    EXPECT_EQ(pacer.TakeDue(5), "xyz");
    pacer.Enqueue(std::string(136, 'b'), 7);
    EXPECT_EQ(pacer.NextDue(), 7);
    EXPECT_EQ(pacer.TakeDue(7).size(), 136u);
}

TEST(SimRecordSink, WritesLinesUnderTheNameOnlyWhenCommitted) {
    quenlo::testing::TempDir dir;
    std::string error;
    {
        RecordSink abandoned;
        ASSERT_TRUE(abandoned.Open(dir.path(), "PROG.PD3", &error));
        ASSERT_TRUE(abandoned.Append("x", &error));
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));  // an abandoned file leaves nothing
    RecordSink sink;
    EXPECT_FALSE(sink.Open(dir.path() / "absent", "PROG.PD3", &error));
    EXPECT_NE(error.find("absent"), std::string::npos);

    ASSERT_TRUE(sink.Open(dir.path(), "DATA.TXT", &error)) << error;
    ASSERT_TRUE(sink.Append("abc  ", &error));
    ASSERT_TRUE(sink.Append("de   ", &error));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "DATA.TXT"));
    ASSERT_TRUE(sink.Commit(&error)) << error;
    EXPECT_EQ(dir.Read("DATA.TXT"), "abc  \r\nde   \r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// The loader's end of a socket pair: writes blocks and waits (in poll, bounded) for answers.
class Loader {
  public:
    explicit Loader(int fd) : fd_(fd) {}
    std::string Exchange(const std::string& bytes) {
        Write(bytes);
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 10'000) != 1) {
            return "<none>";
        }
        char c = 0;
        return ::read(fd_, &c, 1) == 1 ? std::string(1, c) : "<closed>";
    }
    void Write(const std::string& bytes) {
        EXPECT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Link up and the heading accepted.
    void Call(const std::string& headingText) {
        EXPECT_EQ(Exchange(kEnq), kAck);
        EXPECT_EQ(Exchange(Frame(chSOH, headingText)), kAck);
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

TEST_F(SimSession, ReceivesAFileOverTheLineAtItsPace) {
    const auto report = Run({}, 9600, [](Loader& loader) {
        loader.Call(DataHeadingText("DATA.TXT", 2, {10, 5}));
        EXPECT_EQ(loader.Exchange(DataBlock(1, "first     one  ")), kAck);
        EXPECT_EQ(loader.Exchange(DataBlock(2, "second    two  ")), kAck);
        EXPECT_EQ(loader.Exchange(kEot), kAck);
    });
    EXPECT_EQ(report.SummaryLine(), "bht-sim: received DATA.TXT records=2/2 naks=0 status=ok");
    EXPECT_EQ(report.exitCode(), 0);
    EXPECT_EQ(dir_.Read("DATA.TXT"), "first     one  \r\nsecond    two  \r\n");
}

TEST_F(SimSession, IncompleteTransferLeavesNoFile) {
    const auto report = Run({}, 0, [](Loader& loader) {
        loader.Call(ProgramHeadingText("PROG.PD3", 2));
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
        loader.Call(ProgramHeadingText("PROG.PD3", 2));
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
        loader.Call(ProgramHeadingText("PROG.PD3", 2));
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
