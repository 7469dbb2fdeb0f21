// Field lists: separators, width limits, field and record limits, rounding of widths, and what is
// left of the list and of the definitions when a list is refused.
#include "files/field_definitions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_host.h"

namespace quenlo {
namespace {

class SetFieldsTest : public ::testing::Test {
  protected:
    ResultCode Define(const std::string& text) {
        list = text;
        return SetFields(state, list);
    }
    std::vector<std::string> Widths() const {
        std::vector<std::string> widths;
        for (int i = 1; i <= state.fieldCount; ++i) {
            widths.push_back(state.fieldLengths[static_cast<std::size_t>(i)]);
        }
        return widths;
    }
    static std::string Repeat(const std::string& width, int times) {
        std::string text;
        for (int i = 0; i < times; ++i) {
            text += (i == 0 ? "" : ",") + width;
        }
        return text;
    }

    testing::FakeHost host;
    RunState state{host};
    std::string list;
};

using Texts = std::vector<std::string>;

TEST_F(SetFieldsTest, EachSeparatorDefinesTheSameFields) {
    for (const std::string text : {"10,5,20", "10;5;20", "10 5 20", "10,5;20", "10 5,20"}) {
        EXPECT_EQ(Define(text), 0) << text;
        EXPECT_EQ(state.fieldCount, 3) << text;
        EXPECT_EQ(state.recordLength, 35) << text;
        EXPECT_EQ(Widths(), (Texts{"10", "5", "20"})) << text;
        EXPECT_EQ(state.currentProcedure, "SetFields");
    }
}

TEST_F(SetFieldsTest, LeadingBlanksAreIgnored) {
    EXPECT_EQ(Define("   10 5"), 0);
    EXPECT_EQ(Widths(), (Texts{"10", "5"}));
    EXPECT_EQ(state.recordLength, 15);
}

TEST_F(SetFieldsTest, EmptyWidthBetweenSeparatorsIsOutOfRange) {
    EXPECT_EQ(Define("10,,20"), 4);
    EXPECT_EQ(Define("10;;20"), 4);
    EXPECT_EQ(Define("10  20"), 4);  // the second blank starts an empty width
    EXPECT_EQ(Define(",10"), 4);
}

TEST_F(SetFieldsTest, OneSeparatorAfterTheLastWidthIsAllowed) {
    for (const std::string text : {"10,", "10;", "10 "}) {
        EXPECT_EQ(Define(text), 0) << text;
        EXPECT_EQ(Widths(), (Texts{"10"})) << text;
        EXPECT_EQ(state.recordLength, 10) << text;
        EXPECT_EQ(list, "") << text;
    }
}

TEST_F(SetFieldsTest, EmptyListIsAnOptionMismatch) {
    EXPECT_EQ(Define(""), 9);
    EXPECT_EQ(state.fieldCount, 0);
    EXPECT_EQ(state.recordLength, 0);
    EXPECT_EQ(Define("    "), 9);
    EXPECT_EQ(state.currentProcedure, "SetFields");
}

TEST_F(SetFieldsTest, WidthLimits) {
    EXPECT_EQ(Define("0"), 4);
    EXPECT_EQ(Define("100"), 4);
    EXPECT_EQ(Define("-5"), 4);
    EXPECT_EQ(Define("X"), 4);
    EXPECT_EQ(Define("OO"), 4);
    EXPECT_EQ(Define("1"), 0);
    EXPECT_EQ(Define("99"), 0);
    EXPECT_EQ(Widths(), (Texts{"99"}));
    EXPECT_EQ(state.recordLength, 99);
}

TEST_F(SetFieldsTest, WidthFarOutOfRangeIsJustOutOfRange) {
    EXPECT_EQ(Define("100000"), 4);
    EXPECT_EQ(Define("2147483648"), 4);
    EXPECT_EQ(Define(std::string(400, '9')), 4);
    EXPECT_EQ(Define("10,100000"), 4);
    EXPECT_EQ(state.fieldCount, 1);
}

TEST_F(SetFieldsTest, WidthsAreRoundedHalfToEven) {
    EXPECT_EQ(Define("10.5"), 0);
    EXPECT_EQ(Widths(), (Texts{"10"}));
    EXPECT_EQ(Define("11.5"), 0);
    EXPECT_EQ(Widths(), (Texts{"12"}));
    EXPECT_EQ(state.recordLength, 12);
    EXPECT_EQ(Define("0.5"), 4);  // rounds to 0
    EXPECT_EQ(Define("0.6"), 0);
    EXPECT_EQ(Widths(), (Texts{"1"}));
    EXPECT_EQ(Define("99.5"), 4);  // rounds to 100
    EXPECT_EQ(Define("98.5"), 0);
    EXPECT_EQ(Widths(), (Texts{"98"}));
}

TEST_F(SetFieldsTest, WidthIsTheLeadingNumberOfItsText) {
    EXPECT_EQ(Define("10abc"), 0);
    EXPECT_EQ(Widths(), (Texts{"10"}));
    EXPECT_EQ(Define("10abc,5x"), 0);
    EXPECT_EQ(Widths(), (Texts{"10", "5"}));
    EXPECT_EQ(state.recordLength, 15);
    EXPECT_EQ(Define("+7"), 0);
    EXPECT_EQ(Widths(), (Texts{"7"}));  // stored without its sign
}

TEST_F(SetFieldsTest, SixteenFieldsAtMost) {
    EXPECT_EQ(Define(Repeat("1", 16)), 0);
    EXPECT_EQ(state.fieldCount, 16);
    EXPECT_EQ(state.recordLength, 16);

    EXPECT_EQ(Define(Repeat("1", 17)), 5);
    EXPECT_EQ(state.fieldCount, 16);
    EXPECT_EQ(state.recordLength, 16);
}

TEST_F(SetFieldsTest, RecordOfAtMost255WithTheFieldCount) {
    EXPECT_EQ(Define("99,99,54"), 0);  // 3 + 252
    EXPECT_EQ(state.recordLength, 252);
    EXPECT_EQ(Define("99,99,55"), 6);  // 3 + 253
    // The refused width was already counted.
    EXPECT_EQ(state.fieldCount, 3);
    EXPECT_EQ(state.recordLength, 253);
    EXPECT_EQ(Widths(), (Texts{"99", "99", "55"}));
}

TEST_F(SetFieldsTest, ChecksOfOneWidthRunInOrder) {
    // 16 fields of 239 characters reach 255 exactly.
    const std::string full = Repeat("15", 15) + ",14";
    EXPECT_EQ(Define(full), 0);
    EXPECT_EQ(state.fieldCount, 16);
    EXPECT_EQ(state.recordLength, 239);
    // A seventeenth width: out of range beats too many fields, too many fields beats the record.
    EXPECT_EQ(Define(full + ",0"), 4);
    EXPECT_EQ(Define(full + ",100"), 4);
    EXPECT_EQ(Define(full + ",99"), 5);
    EXPECT_EQ(state.recordLength, 239);
    // Too long a record at the sixteenth field.
    EXPECT_EQ(Define(Repeat("15", 16)), 6);
    EXPECT_EQ(state.fieldCount, 16);
    EXPECT_EQ(state.recordLength, 240);
}

TEST_F(SetFieldsTest, DefinitionsBeforeAFailureStay) {
    EXPECT_EQ(Define("10,5,0,7"), 4);
    EXPECT_EQ(state.fieldCount, 2);
    EXPECT_EQ(state.recordLength, 15);
    EXPECT_EQ(Widths(), (Texts{"10", "5"}));
}

TEST_F(SetFieldsTest, EachListReplacesTheDefinitions) {
    EXPECT_EQ(Define("10,5,20"), 0);
    EXPECT_EQ(Define("7"), 0);
    EXPECT_EQ(state.fieldCount, 1);
    EXPECT_EQ(state.recordLength, 7);
    EXPECT_EQ(Define(""), 9);
    EXPECT_EQ(state.fieldCount, 0);
    EXPECT_EQ(state.recordLength, 0);
}

TEST_F(SetFieldsTest, TheListIsConsumed) {
    EXPECT_EQ(Define("10,5,20"), 0);
    EXPECT_EQ(list, "");
    EXPECT_EQ(Define("10,0,7,8"), 4);
    EXPECT_EQ(list, ",7,8");  // the refused width is taken, its separator is not
    EXPECT_EQ(Define("  99,99,55;1 2"), 6);
    EXPECT_EQ(list, ";1 2");
    EXPECT_EQ(Define(Repeat("1", 17) + ",3"), 5);
    EXPECT_EQ(list, ",3");
    EXPECT_EQ(Define("   "), 9);
    EXPECT_EQ(list, "");
}

}  // namespace
}  // namespace quenlo
