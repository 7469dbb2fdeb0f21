// Block framing on the line: start character, optional sequence digits, record, ETX and the
// optional check character. A wrong byte here makes the handheld NAK every block.
#include "link/block_framing.h"

#include <gtest/gtest.h>

#include <string>

#include "link/control_chars.h"
#include "support/fake_host.h"

namespace quenlo {
namespace {

// Character codes as they go on the line, for comparing check characters above 0x7F.
unsigned Code(char c) {
    return static_cast<unsigned char>(c);
}

class BlockFramingTest : public ::testing::Test {
  protected:
    void Options(bool bcc, bool seq) {
        state.bccEnabled = bcc;
        state.seqEnabled = seq;
    }

    testing::FakeHost host;
    RunState state{host};
};

// The check character.

TEST_F(BlockFramingTest, CheckCharacterOfSequenceDigitsRecordAndEtx) {
    // 0x30 ^ 0x30 ^ 0x30 ^ 0x30 ^ 0x31 ^ 0x41 ^ 0x03: the worked example every handheld agrees on.
    EXPECT_EQ(AddBcc(state, std::string("00001A") + chETX), 's');
    EXPECT_EQ(state.currentProcedure, "AddBcc");
}

TEST_F(BlockFramingTest, BodyThatCancelsOutGivesNulCheckCharacter) {
    // '@' ^ 'C' is 0x03, which the ETX cancels.
    EXPECT_EQ(AddBcc(state, std::string("@C") + chETX), chNUL);

    Options(true, false);
    const std::string block = FrameDataBlock(state, "00001", "@C");
    ASSERT_EQ(block.size(), 5u);  // the NUL is sent, not dropped as a terminator
    EXPECT_EQ(block, std::string{chSTX} + "@C" + chETX + chNUL);
}

TEST_F(BlockFramingTest, CodesAboveSevenBitsAreCombinedAsBytes) {
    EXPECT_EQ(Code(AddBcc(state, std::string("\x80") + chETX)), 0x83u);
    EXPECT_EQ(Code(AddBcc(state, std::string("\x80\xFF") + chETX)), 0x7Cu);
    EXPECT_EQ(Code(AddBcc(state, std::string("\xFF\xFE\xC7") + chETX)), 0xC5u);
}

TEST_F(BlockFramingTest, CheckCharacterOfEveryByteValue) {
    // Each bit is set in exactly half of 0..255, so four full runs cancel out to zero and only the
    // ETX remains; the sequence digits "00001" add 0x31.
    std::string record;
    for (int i = 0; i < 1024; ++i) {
        record.push_back(static_cast<char>(i % 256));
    }
    EXPECT_EQ(AddBcc(state, record + chETX), chETX);

    Options(true, true);
    const std::string block = FrameDataBlock(state, "00001", record);
    ASSERT_EQ(block.size(), record.size() + 8);
    EXPECT_EQ(Code(block.back()), 0x32u);
}

TEST_F(BlockFramingTest, ReceiverCheckExcludesTheReceivedCharacter) {
    const std::string received = std::string("00001A") + chETX + 's';
    EXPECT_EQ(BccCheck(state, received), 's');
    EXPECT_EQ(state.currentProcedure, "BccCheck");

    // Whatever arrived as the last character, the check is over the body alone.
    EXPECT_EQ(BccCheck(state, std::string("00001A") + chETX + 'x'), 's');
    // One damaged body character shows.
    EXPECT_NE(BccCheck(state, std::string("00001B") + chETX + 's'), 's');
}

TEST_F(BlockFramingTest, ReceiverCheckOfHighBytesAndShortTexts) {
    EXPECT_EQ(Code(BccCheck(state, std::string("\x80\xFF") + chETX + '\x7C')), 0x7Cu);
    EXPECT_EQ(BccCheck(state, std::string{chETX} + chETX), chETX);
    // Nothing but the check character itself: nothing to combine.
    EXPECT_EQ(BccCheck(state, "s"), chNUL);
    EXPECT_EQ(BccCheck(state, ""), chNUL);
}

TEST_F(BlockFramingTest, SenderAndReceiverAgreeOnFramedBlocks) {
    Options(true, true);
    const std::string block = FrameDataBlock(state, "00042", "RECORD \xE9\x80 TEXT");
    // The receiver strips the start character and checks the rest.
    EXPECT_EQ(BccCheck(state, block.substr(1)), block.back());

    const std::string heading = FrameHeadingBlock(state, "DATA.TXT    000120210");
    EXPECT_EQ(BccCheck(state, heading.substr(1)), heading.back());
}

// Data blocks.

TEST_F(BlockFramingTest, DataBlockWithSequenceAndCheck) {
    Options(true, true);
    const std::string block = FrameDataBlock(state, "00001", "A");
    EXPECT_EQ(block, std::string{chSTX} + "00001A" + chETX + 's');
    EXPECT_EQ(block.size(), 9u);
    EXPECT_EQ(state.currentProcedure, "AddBcc");
}

TEST_F(BlockFramingTest, DataBlockLengthForEachOptionPair) {
    const std::string record = "HELLO WORLD";  // L = 11
    const std::string bcc(1, AddBcc(state, record + chETX));
    const std::string seqBcc(1, AddBcc(state, "00007" + record + chETX));

    Options(false, false);
    EXPECT_EQ(FrameDataBlock(state, "00007", record), chSTX + record + chETX);

    Options(true, false);
    EXPECT_EQ(FrameDataBlock(state, "00007", record), chSTX + record + chETX + bcc);

    Options(false, true);
    EXPECT_EQ(FrameDataBlock(state, "00007", record), chSTX + ("00007" + record) + chETX);

    Options(true, true);
    EXPECT_EQ(FrameDataBlock(state, "00007", record), chSTX + ("00007" + record) + chETX + seqBcc);
}

TEST_F(BlockFramingTest, PlainDataBlockIsRecordBetweenStxAndEtx) {
    Options(false, false);
    const std::string record(128, '0');
    const std::string block = FrameDataBlock(state, "00001", record);
    ASSERT_EQ(block.size(), record.size() + 2);
    EXPECT_EQ(block.front(), chSTX);
    EXPECT_EQ(block.substr(1, 128), record);
    EXPECT_EQ(block.back(), chETX);
}

TEST_F(BlockFramingTest, RecordWithControlAndNulBytesIsFramedWhole) {
    Options(false, true);
    const std::string record("A\0B\x03", 4);
    const std::string block = FrameDataBlock(state, "00003", record);
    ASSERT_EQ(block.size(), 4u + 7u);
    EXPECT_EQ(block, chSTX + std::string("00003") + record + chETX);
}

TEST_F(BlockFramingTest, BlockFramedAgainIsIdentical) {
    // A block repeated after NAK must match the first one byte for byte.
    Options(true, true);
    const std::string first = FrameDataBlock(state, "00123", "SAME RECORD");
    const std::string again = FrameDataBlock(state, "00123", "SAME RECORD");
    EXPECT_EQ(first, again);
    EXPECT_EQ(first.substr(1, 5), "00123");
}

// The heading block.

TEST_F(BlockFramingTest, HeadingBlockNeverCarriesSequenceDigits) {
    const std::string text = "PROG.PD3    00200";
    const std::string bcc(1, AddBcc(state, text + chETX));

    Options(true, true);
    EXPECT_EQ(FrameHeadingBlock(state, text), chSOH + text + chETX + bcc);
    Options(true, false);
    EXPECT_EQ(FrameHeadingBlock(state, text), chSOH + text + chETX + bcc);

    Options(false, true);
    EXPECT_EQ(FrameHeadingBlock(state, text), chSOH + text + chETX);
    Options(false, false);
    EXPECT_EQ(FrameHeadingBlock(state, text), chSOH + text + chETX);
}

TEST_F(BlockFramingTest, HeadingCheckCharacterLeavesOutSoh) {
    Options(true, false);
    const std::string block = FrameHeadingBlock(state, "A");
    ASSERT_EQ(block.size(), 4u);
    // 'A' ^ ETX is 0x42; with SOH it would be 0x43.
    EXPECT_EQ(Code(block.back()), 0x42u);
}

}  // namespace
}  // namespace quenlo
