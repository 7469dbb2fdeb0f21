// The option line: every option, its defaults, order and repeats, refusals, and the checks that
// run once the whole line is read.
#include "engine/options.h"

#include <gtest/gtest.h>

#include "engine/runtime_error.h"
#include "engine/text.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace quenlo {
namespace {

class CheckCommandTest : public ::testing::Test {
  protected:
    ResultCode Parse(const std::string& line) {
        SetDefaults(state);
        state.commandLine = line;
        return CheckCommand(state);
    }
    // A program file of n lines in the temporary directory, named on the line by its full path.
    std::string ProgramFile(const std::string& name, int lines = 3) {
        std::string text;
        for (int i = 0; i < lines; ++i) {
            text += "LINE\r\n";
        }
        dir.Write(name, text);
        return dir.enginePath() + name;
    }

    testing::FakeHost host;
    RunState state{host};
    testing::TempDir dir;
};

TEST_F(CheckCommandTest, EmptyOrOneCharacterLineKeepsDefaultsAndReceives) {
    for (const std::string line : {"", "X", " "}) {
        EXPECT_EQ(Parse(line), 0) << line;
        EXPECT_FALSE(state.sendMode);
        EXPECT_EQ(state.portNumber, 1);
        EXPECT_EQ(state.baudRate, "19200");
        EXPECT_EQ(state.parity, "N");
        EXPECT_EQ(state.dataBits, "8");
        EXPECT_EQ(state.stopBits, "1");
        EXPECT_TRUE(state.bccEnabled);
        EXPECT_TRUE(state.seqEnabled);
        EXPECT_EQ(state.timeoutCount, 10);
        EXPECT_EQ(state.irDelay, 0);
        EXPECT_EQ(state.filePath, "");
    }
}

TEST_F(CheckCommandTest, PortOptionsAddOneAndStopAtTwenty) {
    EXPECT_EQ(Parse("+P0"), 0);
    EXPECT_EQ(state.portNumber, 1);
    EXPECT_EQ(Parse("+P4"), 0);
    EXPECT_EQ(state.portNumber, 5);
    EXPECT_EQ(Parse("+P20"), 0);
    EXPECT_EQ(state.portNumber, 21);
    EXPECT_EQ(Parse("+P21"), 9);
    EXPECT_EQ(Parse("+P00"), 9);
    EXPECT_EQ(Parse("+P-1"), 9);
}

TEST_F(CheckCommandTest, LineSettingsTakeEachListedValue) {
    for (const std::string rate :
         {"115200", "38400", "19200", "9600", "4800", "2400", "1200", "600", "300"}) {
        EXPECT_EQ(Parse("+B" + rate), 0);
        EXPECT_EQ(state.baudRate, rate);
    }
    EXPECT_EQ(Parse("+B57600"), 9);
    EXPECT_EQ(Parse("+PE +D7 +S2"), 0);
    EXPECT_EQ(state.parity, "E");
    EXPECT_EQ(state.dataBits, "7");
    EXPECT_EQ(state.stopBits, "2");
    EXPECT_EQ(Parse("+PO +D8 +S1"), 0);
    EXPECT_EQ(state.parity, "O");
    EXPECT_EQ(state.dataBits, "8");
    EXPECT_EQ(state.stopBits, "1");
    EXPECT_EQ(Parse("+PX"), 9);
    EXPECT_EQ(Parse("+D6"), 9);
    EXPECT_EQ(Parse("+S3"), 9);
}

TEST_F(CheckCommandTest, SwitchesAndModes) {
    EXPECT_EQ(Parse("-PB -SN"), 0);
    EXPECT_FALSE(state.bccEnabled);
    EXPECT_FALSE(state.seqEnabled);
    EXPECT_EQ(Parse("-PB +PB -SN +SN"), 0);
    EXPECT_TRUE(state.bccEnabled);
    EXPECT_TRUE(state.seqEnabled);

    EXPECT_EQ(Parse("+EX +EW +IR +DDE +APP +RSG +CMP +RXON +YMOD"), 0);
    EXPECT_TRUE(state.exMode);
    EXPECT_TRUE(state.ewMode);
    EXPECT_TRUE(state.irdaMode);
    EXPECT_TRUE(state.ddeMode);
    EXPECT_TRUE(state.appendMode);
    EXPECT_TRUE(state.rsgMode);
    EXPECT_TRUE(state.cmpMode);
    EXPECT_TRUE(state.rxonMode);
    EXPECT_TRUE(state.ymodemMode);

    // A new run starts from the defaults again.
    EXPECT_EQ(Parse(""), 0);
    EXPECT_FALSE(state.exMode || state.irdaMode || state.ymodemMode || state.rxonMode);
}

TEST_F(CheckCommandTest, TimeoutsInThreeSecondSlices) {
    const std::pair<std::string, int> cases[] = {
        {"+T0", 32500}, {"+T30", 10}, {"+T60", 20}, {"+T90", 30}, {"+T120", 40}};
    for (const auto& [option, slices] : cases) {
        EXPECT_EQ(Parse(option), 0);
        EXPECT_EQ(state.timeoutCount, slices) << option;
    }
    EXPECT_EQ(Parse("+T45"), 9);
}

TEST_F(CheckCommandTest, LowerCaseOptionsAreRefused) {
    for (const std::string option : {"+p0", "+b9600", "+pb", "-sn", "+ymod", "+t30", "+ex"}) {
        EXPECT_EQ(Parse(option), 9) << option;
    }
}

TEST_F(CheckCommandTest, AnyOrderRepeatsAndLastOneWins) {
    EXPECT_EQ(Parse("+B9600 +P3 +B300 +T60 +P7 +T120"), 0);
    EXPECT_EQ(state.baudRate, "300");
    EXPECT_EQ(state.portNumber, 8);
    EXPECT_EQ(state.timeoutCount, 40);
}

TEST_F(CheckCommandTest, ExtraSpacesBetweenAndAfterTokens) {
    EXPECT_EQ(Parse("+P2    +B9600   "), 0);
    EXPECT_EQ(state.portNumber, 3);
    EXPECT_EQ(state.baudRate, "9600");
}

TEST_F(CheckCommandTest, IrDelayForms) {
    EXPECT_EQ(Parse("+IRD"), 0);
    EXPECT_EQ(state.irDelay, 0);
    EXPECT_FALSE(state.irdaMode);
    EXPECT_EQ(Parse("+IRD250"), 0);
    EXPECT_EQ(state.irDelay, 250);
    EXPECT_EQ(Parse("+IRDX"), 0);
    EXPECT_EQ(state.irDelay, 0);
    EXPECT_EQ(Parse("+IRD5"), 0);
    EXPECT_EQ(state.irDelay, 5);
    EXPECT_FALSE(state.irdaMode);
    EXPECT_EQ(Parse("+IRD10.5"), 0);
    EXPECT_EQ(state.irDelay, 10);
    EXPECT_EQ(Parse("+IRD11.5"), 0);
    EXPECT_EQ(state.irDelay, 12);
    EXPECT_EQ(Parse("+IRD-40"), 0);
    EXPECT_EQ(state.irDelay, -40);
    EXPECT_EQ(Parse("+IRD2147483647"), 0);
    EXPECT_EQ(state.irDelay, 2147483647);
}

TEST_F(CheckCommandTest, IrDelayThatDoesNotFitIsAnOverflowInCheckCommand) {
    SetDefaults(state);
    state.commandLine = "+IRD2147483648";
    try {
        CheckCommand(state);
        FAIL() << "no run-time error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 6);
        EXPECT_EQ(e.text(), "Overflow");
    }
    EXPECT_EQ(state.currentProcedure, "CheckCommand");
}

TEST_F(CheckCommandTest, PlusFIsAlwaysAFieldList) {
    EXPECT_EQ(Parse("+FOO"), 4);  // "OO" is a field width without a number
    EXPECT_EQ(state.currentProcedure, "SetFields");
    EXPECT_EQ(Parse("+F"), 9);
    EXPECT_EQ(Parse("+F10,5,20"), 0);
    EXPECT_EQ(state.fieldCount, 3);
    EXPECT_EQ(state.recordLength, 35);
}

TEST_F(CheckCommandTest, FailureKeepsTheFailingTokenAndEarlierSettings) {
    EXPECT_EQ(Parse("+P3 +B4800 +XYZ +P9"), 9);
    EXPECT_EQ(state.commandLine, "+XYZ +P9");
    EXPECT_EQ(state.currentOption, "+XYZ");
    EXPECT_EQ(state.portNumber, 4);
    EXPECT_EQ(state.baudRate, "4800");
    EXPECT_EQ(state.resultCode, 9);
}

TEST_F(CheckCommandTest, DirectoryArgumentReceives) {
    EXPECT_EQ(Parse("A: +P1"), 0);
    EXPECT_FALSE(state.sendMode);
    EXPECT_EQ(state.filePath, "A:");
    EXPECT_EQ(Parse("C:\\DATA\\"), 0);
    EXPECT_FALSE(state.sendMode);
    EXPECT_EQ(state.filePath, "C:\\DATA\\");
}

TEST_F(CheckCommandTest, ProgramFileIsCountedAndClassified) {
    const std::string path = ProgramFile("PROG.PD3", 200);
    EXPECT_EQ(Parse(path + " +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN "), 0);
    EXPECT_TRUE(state.sendMode);
    EXPECT_TRUE(state.programFile);
    EXPECT_EQ(state.fileName, "PROG.PD3");
    EXPECT_EQ(state.filePath, dir.enginePath());
    EXPECT_EQ(state.recordLength, 128);
    EXPECT_EQ(state.recordCount, 200);
    EXPECT_FALSE(state.ymodemMode);
    EXPECT_EQ(state.baudRate, "115200");
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(CheckCommandTest, FileArgumentMayStandAnywhereAndTheLastOneWins) {
    const std::string first = ProgramFile("ONE.PD4");
    const std::string second = ProgramFile("TWO.PD3");
    EXPECT_EQ(Parse("+P2 " + first + " +B9600 " + second), 0);
    EXPECT_EQ(state.fileName, "TWO.PD3");
    EXPECT_EQ(state.recordLength, 128);
    // The earlier PD4 switched YMODEM on, and nothing here switches it off.
    EXPECT_TRUE(state.ymodemMode);
}

TEST_F(CheckCommandTest, PD3AfterAPD4RunUsesTheBlockProtocol) {
    EXPECT_EQ(Parse(ProgramFile("A.PD4")), 0);
    EXPECT_TRUE(state.ymodemMode);
    EXPECT_EQ(Parse(ProgramFile("B.PD3")), 0);
    EXPECT_FALSE(state.ymodemMode);
}

TEST_F(CheckCommandTest, MissingFileIsResultOneAndNothingStaysOpen) {
    EXPECT_EQ(Parse(dir.enginePath() + "NONE.PD3"), 1);
    EXPECT_EQ(state.fileName, "NONE.PD3");
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(CheckCommandTest, FieldsForAProgramFileAreAParameterMismatch) {
    EXPECT_EQ(Parse(ProgramFile("P.PD3") + " +F10"), 7);
}

TEST_F(CheckCommandTest, DataFileTakesPlusFOrItsFieldFile) {
    dir.Write("DATA.TXT", "A\r\nB\r\n");
    const std::string data = dir.enginePath() + "DATA.TXT";
    EXPECT_EQ(Parse(data), 8);  // no field file yet
    EXPECT_EQ(Parse(data + " +F10,5"), 0);
    EXPECT_EQ(state.fieldCount, 2);
    EXPECT_EQ(state.recordCount, 2);
    dir.Write("DATA.FLD", "file DATA.TXT\r\nfields 7 8 9\r\n");
    EXPECT_EQ(Parse(data), 0);
    EXPECT_EQ(state.fieldCount, 3);
    EXPECT_EQ(state.recordLength, 24);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(CheckCommandTest, PathWithABlankIsTwoFileArguments) {
    ProgramFile("PROG.PD3");
    // "MY DIR\PROG.PD3" is cut at the blank: "MY" names a data file, then "DIR\PROG.PD3" is the
    // last file argument and names the file relative to the current directory.
    EXPECT_EQ(Parse("MY DIR\\PROG.PD3"), 71);
    EXPECT_EQ(state.fileName, "PROG.PD3");
    EXPECT_EQ(state.filePath, "DIR\\");
}

TEST_F(CheckCommandTest, OptionLineWithUpperCasePathFindsLowerCaseFile) {
    dir.Write("prog.pd3", "X\r\n");
    EXPECT_EQ(Parse(UpperCase(dir.enginePath()) + "PROG.PD3"), 0);
    EXPECT_EQ(state.recordCount, 1);
}

}  // namespace
}  // namespace quenlo
