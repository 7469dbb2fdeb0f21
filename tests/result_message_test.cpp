// The operator's result texts: every code, byte for byte, including the suffixes of the general
// failure and the fallback for codes without a text of their own.
#include "engine/result_message.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace quenlo {
namespace {

std::string Message(ResultCode code) {
    return ResultMessageFor(code, ResultMessageInputs{});
}

std::string GeneralFailure(std::int32_t errNumber, std::int32_t errLine = 0,
                           std::int16_t transferState = 0) {
    ResultMessageInputs in;
    in.fileErrNumber = errNumber;
    in.fileErrLine = errLine;
    in.transferState = transferState;
    return ResultMessageFor(99, in);
}

TEST(ResultMessageTest, FileNotFoundNamesTheFileWithTwoSpacesBeforeNotFound) {
    ResultMessageInputs in;
    in.fileName = "DATA.TXT";
    EXPECT_EQ(ResultMessageFor(1, in), "Err(1) File: DATA.TXT  not found.");
    in.fileName = "PROG.PD3";
    EXPECT_EQ(ResultMessageFor(1, in), "Err(1) File: PROG.PD3  not found.");
    in.fileName.clear();
    EXPECT_EQ(ResultMessageFor(1, in), "Err(1) File:   not found.");
}

TEST(ResultMessageTest, FileNameBytesPassThroughUnchanged) {
    ResultMessageInputs in;
    in.fileName = "\xA3~`.TXT";
    EXPECT_EQ(ResultMessageFor(1, in), "Err(1) File: \xA3~`.TXT  not found.");
}

TEST(ResultMessageTest, OptionAndFileCheckTexts) {
    const std::pair<ResultCode, std::string> cases[] = {
        {2, "Err(2) File name entered in wrong format."},
        {3, "Err(3) Number of records exceeds 32767."},
        {4, "Err(4) Field length is out of range."},
        {5, "Err(5) Number of fields is out of range."},
        {6, "Err(6) Record length is out of range."},
        {7, "Err(7) Parameter mismatch."},
        {8, "Err(8) Field length not found."},
        {9, "Err(9) Option mismatch."},
    };
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(Message(code), text) << code;
    }
}

TEST(ResultMessageTest, OnlyCodeOneNamesTheFile) {
    ResultMessageInputs in;
    in.fileName = "DATA.TXT";
    in.portNumber = 4;
    EXPECT_EQ(ResultMessageFor(2, in), "Err(2) File name entered in wrong format.");
    EXPECT_EQ(ResultMessageFor(8, in), "Err(8) Field length not found.");
}

TEST(ResultMessageTest, CommunicationErrorsCarryTheirOwnNumber) {
    EXPECT_EQ(Message(51), "Err(51) Communications error.");
    EXPECT_EQ(Message(52), "Err(52) Communications error.");
    EXPECT_EQ(Message(53), "Err(53) Communications error.");
    EXPECT_EQ(Message(54), "Err(54) Communications error.");
    EXPECT_EQ(Message(55), "Err(55) Communications error.");
}

TEST(ResultMessageTest, FileAndHeadingFailuresAndCancel) {
    EXPECT_EQ(Message(70), "Err(70) Incorrect file or illegal heading.");
    EXPECT_EQ(Message(71), "Err(71) Path not found.");
    EXPECT_EQ(Message(72), "Err(72) Disk full.");
    EXPECT_EQ(Message(90), "Err(90) Aborted by Cancel.");
}

TEST(ResultMessageTest, GeneralFailureWithoutSavedErrorHasNoSuffix) {
    EXPECT_EQ(GeneralFailure(0), "Err(99) General Failure");
    EXPECT_EQ(GeneralFailure(-1), "Err(99) General Failure");
    EXPECT_EQ(GeneralFailure(-57, 3, 3), "Err(99) General Failure");
}

TEST(ResultMessageTest, GeneralFailureShortSuffixes) {
    EXPECT_EQ(GeneralFailure(55, 10, 3), "Err(99) General Failure (55)");
    EXPECT_EQ(GeneralFailure(70, 10, 3), "Err(99) General Failure (70)");
    EXPECT_EQ(GeneralFailure(71, 10, 3), "Err(99) General Failure (71)");
    EXPECT_EQ(GeneralFailure(75, 10, 3), "Err(99) General Failure (75)");
}

TEST(ResultMessageTest, GeneralFailureLongSuffix) {
    EXPECT_EQ(GeneralFailure(57, 0, 3), "Err(99) General Failure Error [57E 0 ] 3");
    EXPECT_EQ(GeneralFailure(61, 12, 6), "Err(99) General Failure Error [61E 12 ] 6");
    // Neighbours of the short-suffix numbers take the long form.
    EXPECT_EQ(GeneralFailure(56, 1, 2), "Err(99) General Failure Error [56E 1 ] 2");
    EXPECT_EQ(GeneralFailure(72, 0, 0), "Err(99) General Failure Error [72E 0 ] 0");
    EXPECT_EQ(GeneralFailure(76, 0, 4), "Err(99) General Failure Error [76E 0 ] 4");
    EXPECT_EQ(GeneralFailure(1, 0, 5), "Err(99) General Failure Error [1E 0 ] 5");
}

TEST(ResultMessageTest, PortMessagesNameThePortWithoutPadding) {
    ResultMessageInputs in;
    in.portNumber = 12;
    EXPECT_EQ(ResultMessageFor(101, in), "Err(101) Communications Port COM12 not available.");
    EXPECT_EQ(ResultMessageFor(102, in), "Err(102) Communications Port COM12 error.");
    in.portNumber = 3;
    EXPECT_EQ(ResultMessageFor(101, in), "Err(101) Communications Port COM3 not available.");
    EXPECT_EQ(ResultMessageFor(102, in), "Err(102) Communications Port COM3 error.");
    in.portNumber = 21;
    EXPECT_EQ(ResultMessageFor(102, in), "Err(102) Communications Port COM21 error.");
}

TEST(ResultMessageTest, CodesWithoutTextOfTheirOwn) {
    EXPECT_EQ(Message(1004), "Error1004 OCCURED");
    EXPECT_EQ(Message(1001), "Error1001 OCCURED");
    EXPECT_EQ(Message(10), "Error10 OCCURED");
    EXPECT_EQ(Message(50), "Error50 OCCURED");
    EXPECT_EQ(Message(56), "Error56 OCCURED");
    EXPECT_EQ(Message(69), "Error69 OCCURED");
    EXPECT_EQ(Message(73), "Error73 OCCURED");
    EXPECT_EQ(Message(89), "Error89 OCCURED");
    EXPECT_EQ(Message(91), "Error91 OCCURED");
    EXPECT_EQ(Message(98), "Error98 OCCURED");
    EXPECT_EQ(Message(100), "Error100 OCCURED");
    EXPECT_EQ(Message(103), "Error103 OCCURED");
    EXPECT_EQ(Message(32767), "Error32767 OCCURED");
}

TEST(ResultMessageTest, NegativeCodesUseTheFallbackForm) {
    EXPECT_EQ(Message(-1), "Error-1 OCCURED");
    EXPECT_EQ(Message(-99), "Error-99 OCCURED");
    EXPECT_EQ(Message(-32768), "Error-32768 OCCURED");
}

TEST(ResultMessageTest, FallbackIgnoresTheOtherInputs) {
    ResultMessageInputs in;
    in.fileName = "DATA.TXT";
    in.portNumber = 7;
    in.fileErrNumber = 57;
    in.transferState = 3;
    EXPECT_EQ(ResultMessageFor(1004, in), "Error1004 OCCURED");
}

}  // namespace
}  // namespace quenlo
