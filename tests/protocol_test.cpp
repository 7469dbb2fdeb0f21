// The wire, byte for byte: block check, framing, the heading both ways, packed records, kinds.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/block_codec.h"
#include "protocol/control_chars.h"
#include "protocol/fields.h"
#include "protocol/file_kinds.h"
#include "protocol/heading.h"
#include "protocol/line_text.h"
#include "protocol/record_packing.h"

namespace quenlo {
namespace {

std::string Chars(std::initializer_list<unsigned char> codes) {
    return {codes.begin(), codes.end()};
}

const std::string kEtx(1, chETX);

TEST(BlockCodecTest, CheckByteKnownAnswers) {
    const std::pair<std::string, int> rows[] = {
        {"00001A" + kEtx, 's'},      // 0x30^0x30^0x30^0x30^0x31^0x41^0x03
        {"@C" + kEtx, 0x00},         // cancels out: the check is NUL
        {"\x80\xFF" + kEtx, 0x7C}};  // bytes above 0x7F
    for (const auto& [body, check] : rows) {
        EXPECT_EQ(static_cast<unsigned char>(Bcc(body)), check) << Printable(body.substr(0, 8));
    }
}

TEST(BlockCodecTest, FramingForEachOptionPair) {
    const std::string record = "A";
    const std::string seqBody = "00001A" + kEtx;
    const std::tuple<BlockOptions, std::string, std::string> rows[] = {
        {{true, true}, chSTX + seqBody + 's', chSOH + ("HI" + kEtx) + Bcc("HI" + kEtx)},
        {{true, false}, chSTX + ("A" + kEtx) + Bcc("A" + kEtx), chSOH + ("HI" + kEtx) + '\x02'},
        {{false, true}, chSTX + seqBody, chSOH + ("HI" + kEtx)},
        {{false, false}, chSTX + ("A" + kEtx), chSOH + ("HI" + kEtx)}};
    for (const auto& [options, data, heading] : rows) {
        EXPECT_EQ(FrameDataBlock("00001", record, options), data);
        EXPECT_EQ(DataBlockLength(record.size(), options), data.size());
        // The heading never carries sequence digits.
        EXPECT_EQ(FrameHeadingBlock("HI", options), heading);
    }
    // A NUL check byte is sent, not dropped as a terminator; received, it may be missing.
    EXPECT_EQ(FrameDataBlock("", "@C", {true, false}), chSTX + ("@C" + kEtx) + chNUL);
    EXPECT_TRUE(BlockCheckHolds("00001A" + kEtx, 's'));
    EXPECT_FALSE(BlockCheckHolds("00001B" + kEtx, 's'));
    EXPECT_FALSE(BlockCheckHolds("00001A" + kEtx, std::nullopt));
    EXPECT_TRUE(BlockCheckHolds("@C" + kEtx, std::nullopt));
    EXPECT_TRUE(BlockCheckHolds("@C" + kEtx, chNUL));
}

TEST(HeadingTest, EncodedText) {
    const std::vector<int> wide = {1, 99, 7, 10, 2, 3, 4, 5, 6, 8, 9, 11, 20, 45, 50, 98};
    const std::tuple<const char*, int, bool, std::vector<int>, const char*> rows[] = {
        {"PROG.PD3", 200, true, {10, 5}, "PROG.PD3    00200"},  // widths ignored
        {"ABCDEFGH.PD3", 1, true, {}, "ABCDEFGH.PD300001"},
        {"ABCDEFGHIJKLMN.PD3", 1, true, {}, "ABCDEFGHIJKL00001"},
        {"DATA.TXT", 12, false, {10, 5}, "DATA.TXT    00012021005"},
        {"WIDE.DAT", 32767, false, wide, "WIDE.DAT    327671601990710020304050608091120455098"}};
    for (const auto& [name, records, program, widths, text] : rows) {
        EXPECT_EQ(HeadingText(name, records, program, widths), text);
    }
}

TEST(HeadingTest, ParsedText) {
    using F = HeadingFault;
    const std::string fields16 = "16101010101010101010101010109909";  // 13 widths of 10, 99, 9
    const std::tuple<std::string, F, int, int, std::vector<int>> rows[] = {
        {"PROG.PD3    00012", F::kNone, 12, 128, {}},
        {"  SYS.FN3   00001", F::kNone, 1, 130, {}},
        {"APP.CAB     00000", F::kNone, 0, 1024, {}},
        {"DATA.TXT    00012021005", F::kNone, 12, 15, {10, 5}},
        {"PROG.PD3    0001201", F::kMalformed, 0, 0, {}},     // a program heading is 17 long
        {"DATA.TXT    00012", F::kMalformed, 0, 0, {}},       // no field part
        {"DATA.TXT    000120210", F::kMalformed, 12, 0, {}},  // two fields, one width
        {"PROG.PD3    40000", F::kOutOfRange, 0, 0, {}},
        {"PROG.PD3    0A012", F::kOutOfRange, 0, 0, {}},
        {"DATA.TXT    000120100", F::kOutOfRange, 12, 0, {}},  // width 0
        {"DATA.TXT    0001217" + std::string(34, '1'), F::kOutOfRange, 12, 0, {}},
        // The 255 limit counts the fields: 16 + 239 passes, 16 + 240 does not.
        {"D.TXT       00001" + fields16 + "01", F::kNone, 1, 239, {}},
        {"D.TXT       00001" + fields16 + "02", F::kOutOfRange, 1, 0, {}},
        // Extensions are compared with case: a lower-case one names a data file.
        {"prog.pd3    00012", F::kMalformed, 0, 0, {}}};
    for (const auto& [text, fault, records, length, widths] : rows) {
        const ParsedHeading parsed = ParseHeadingText(text);
        EXPECT_EQ(parsed.fault, fault) << text;
        if (fault == F::kNone) {
            EXPECT_EQ(parsed.heading.recordCount, records) << text;
            EXPECT_EQ(parsed.heading.recordLength, length) << text;
            if (!widths.empty()) {
                EXPECT_EQ(parsed.heading.fieldLengths, widths) << text;
            }
        }
    }
    EXPECT_EQ(ParseHeadingText("  SYS.FN3   00001").heading.name, "SYS.FN3");
}

TEST(RecordPackingTest, PackedDigitsAndRecords) {
    EXPECT_EQ(PackDigits("1234"), Chars({112, 134}));
    EXPECT_EQ(PackDigits("123"), Chars({101, 123}));
    EXPECT_EQ(PackDigits("00"), Chars({100}));
    EXPECT_EQ(PackDigits("9999"), Chars({199, 199}));
    EXPECT_EQ(PackDigits(""), "");
    for (const char* bad : {"12a", " 12", "-1", "/", ":", "\xB2"}) {
        EXPECT_EQ(PackDigits(bad), "ERROR") << bad;
    }

    // A 42-character line: 1-18 digits, 19-34 text, 35-39 digits, 40 skipped, 41-42 digits.
    const auto CmpLine = [](std::string head, const std::string& digits5, char skipped,
                            const std::string& digits2) {
        head.resize(18, ' ');
        return head + "ABCDEFGHIJKLMNOP" + digits5 + skipped + digits2;
    };
    const std::string text = "ABCDEFGHIJKLMNOP";
    const std::string blanks(8, ' ');
    const std::string zeros = Chars({100, 100, 100, 100});
    const std::pair<std::string, std::string> rows[] = {
        {CmpLine("  123456", "12345", 'X', "67"),
         Chars({112, 134, 156}) + "      " + text + Chars({101, 123, 145, 167})},
        {CmpLine("1", "00000", 'Y', "00") + "TRAILING", Chars({101}) + blanks + text + zeros},
        {CmpLine("123456789012345678", "00000", ' ', "00"),
         Chars({112, 134, 156, 178, 190, 112, 134, 156, 178}) + text + zeros},
        {CmpLine("  12A4", "12345", ' ', "67"), "ERROR    " + text + Chars({101, 123, 145, 167})},
        {CmpLine("12", "12 45", ' ', "67"), Chars({112}) + blanks + text + "ERRO"},
        {CmpLine("12", "12345", ' ', "6B"),
         Chars({112}) + blanks + text + Chars({101, 123, 145}) + "E"},
        {"12" + std::string(32, ' '), Chars({112}) + blanks + std::string(16, ' ') + Chars({100})}};
    for (const auto& [line, packed] : rows) {
        EXPECT_EQ(PackRecord(line), packed) << line;
    }
    // The handheld knows a packed record's length from the heading's record length alone.
    for (int length = 0; length <= 60; ++length) {
        const std::string record(static_cast<std::size_t>(length), '7');
        EXPECT_EQ(PackedRecordLength(length), static_cast<int>(PackRecord(record).size()))
            << length;
    }
}

TEST(FileKindsTest, ExtensionsOfProgramFiles) {
    // The record length, 0 for a data file, and whether YMODEM carries it.
    const std::tuple<const char*, int, bool> rows[] = {
        {"P.PD3", 128, false}, {"P.PD4", 1024, true}, {"S.FN3", 130, false}, {"S.FN4", 1024, true},
        {"X.EX3", 130, false}, {"A.CAB", 1024, true}, {"CAB", 0, false},     {"D.TXT", 0, false},
        {"P.pd3", 0, false},   {"P.", 0, false}};
    for (const auto& [name, length, ymodem] : rows) {
        const ProgramKind* kind = ProgramKindOf(ExtensionOf(name));
        EXPECT_EQ(kind ? kind->recordLength : 0, length) << name;
        EXPECT_EQ(kind && kind->ymodem, ymodem) << name;
    }
}

TEST(FieldsTest, NumbersAndCharacters) {
    for (const char* bad : {"", "4 2", "-1", "1234567890"}) {
        EXPECT_FALSE(DecimalValue(bad).has_value()) << bad;
    }
    EXPECT_EQ(Latin1ToUtf8("\xA3"), "\xC2\xA3");
    EXPECT_EQ(Utf8ToLatin1("\xC2\xA3\xE2\x82\xAC"), "\xA3?");  // the euro sign is not Latin-1
}

}  // namespace
}  // namespace quenlo
