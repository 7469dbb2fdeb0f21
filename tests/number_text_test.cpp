// Numbers typed into option lines: the leading number of a text, rounding halves to even, and the
// overflow of the 16-bit and 32-bit variables they are stored in.
#include "engine/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "engine/runtime_error.h"

namespace quenlo {
namespace {

// Runs f, which must raise run-time error 6 "Overflow".
template <typename F>
void ExpectOverflow(F f, const std::string& what) {
    try {
        f();
        ADD_FAILURE() << what << ": no run-time error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 6) << what;
        EXPECT_EQ(e.text(), "Overflow") << what;
        EXPECT_STREQ(e.what(), "6: Overflow") << what;
    }
}

TEST(LeadingNumberTest, PlainNumbers) {
    EXPECT_EQ(LeadingNumber("0"), 0.0);
    EXPECT_EQ(LeadingNumber("7"), 7.0);
    EXPECT_EQ(LeadingNumber("250"), 250.0);
    EXPECT_EQ(LeadingNumber("007"), 7.0);
    EXPECT_EQ(LeadingNumber("10.5"), 10.5);
    EXPECT_EQ(LeadingNumber(".5"), 0.5);
    EXPECT_EQ(LeadingNumber("5."), 5.0);
}

TEST(LeadingNumberTest, BlanksAnywhereAreSkipped) {
    EXPECT_EQ(LeadingNumber("1 2 3"), 123.0);
    EXPECT_EQ(LeadingNumber("   42"), 42.0);
    EXPECT_EQ(LeadingNumber("42   "), 42.0);
    EXPECT_EQ(LeadingNumber("1 0 . 2 5"), 10.25);
    EXPECT_EQ(LeadingNumber("- 5"), -5.0);
}

TEST(LeadingNumberTest, StopsAtTheFirstCharacterThatCannotContinue) {
    EXPECT_EQ(LeadingNumber("10abc"), 10.0);
    EXPECT_EQ(LeadingNumber("10,5"), 10.0);
    EXPECT_EQ(LeadingNumber("1.5.5"), 1.5);
    EXPECT_EQ(LeadingNumber("12-3"), 12.0);
    EXPECT_EQ(LeadingNumber("3+4"), 3.0);
    EXPECT_EQ(LeadingNumber("1 2x3"), 12.0);
}

TEST(LeadingNumberTest, NoNumberGivesZero) {
    EXPECT_EQ(LeadingNumber(""), 0.0);
    EXPECT_EQ(LeadingNumber("   "), 0.0);
    EXPECT_EQ(LeadingNumber("X"), 0.0);
    EXPECT_EQ(LeadingNumber("abc10"), 0.0);
    EXPECT_EQ(LeadingNumber("-"), 0.0);
    EXPECT_EQ(LeadingNumber("."), 0.0);
    EXPECT_EQ(LeadingNumber("+-5"), 0.0);
    EXPECT_EQ(LeadingNumber("--5"), 0.0);
}

TEST(LeadingNumberTest, Signs) {
    EXPECT_EQ(LeadingNumber("-40"), -40.0);
    EXPECT_EQ(LeadingNumber("+40"), 40.0);
    EXPECT_EQ(LeadingNumber("  -2.5"), -2.5);
    EXPECT_EQ(LeadingNumber("-0"), 0.0);
}

TEST(LeadingNumberTest, HugeNumbersAreReadNotClipped) {
    EXPECT_EQ(LeadingNumber("2147483648"), 2147483648.0);
    EXPECT_EQ(LeadingNumber("12345678901234567890"), 12345678901234567890.0);
    const std::string enormous(400, '9');
    EXPECT_TRUE(std::isinf(LeadingNumber(enormous)));
    EXPECT_GT(LeadingNumber(enormous), 0.0);
    EXPECT_LT(LeadingNumber("-" + enormous), 0.0);
}

TEST(RoundHalfEvenTest, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(RoundHalfEven(10.5), 10.0);
    EXPECT_EQ(RoundHalfEven(11.5), 12.0);
    EXPECT_EQ(RoundHalfEven(0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(1.5), 2.0);
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(-0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2.0);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEven(-3.5), -4.0);
}

TEST(RoundHalfEvenTest, OtherFractionsGoToTheNearest) {
    EXPECT_EQ(RoundHalfEven(10.4), 10.0);
    EXPECT_EQ(RoundHalfEven(10.6), 11.0);
    EXPECT_EQ(RoundHalfEven(2.5000000000000004), 3.0);
    EXPECT_EQ(RoundHalfEven(0.49999999999999994), 0.0);
    EXPECT_EQ(RoundHalfEven(-10.4), -10.0);
    EXPECT_EQ(RoundHalfEven(-10.6), -11.0);
    EXPECT_EQ(RoundHalfEven(7.0), 7.0);
    EXPECT_EQ(RoundHalfEven(-7.0), -7.0);
    EXPECT_EQ(RoundHalfEven(4503599627370497.0), 4503599627370497.0);
}

TEST(RoundHalfEvenTest, NonFiniteValuesPassThrough) {
    EXPECT_TRUE(std::isinf(RoundHalfEven(std::numeric_limits<double>::infinity())));
    EXPECT_TRUE(std::isnan(RoundHalfEven(std::numeric_limits<double>::quiet_NaN())));
}

TEST(ToInt32RoundedTest, RoundsAndKeepsTheWholeRange) {
    EXPECT_EQ(ToInt32Rounded(250.0), 250);
    EXPECT_EQ(ToInt32Rounded(10.5), 10);
    EXPECT_EQ(ToInt32Rounded(11.5), 12);
    EXPECT_EQ(ToInt32Rounded(-2.5), -2);
    EXPECT_EQ(ToInt32Rounded(2147483647.0), 2147483647);
    EXPECT_EQ(ToInt32Rounded(2147483647.4), 2147483647);
    EXPECT_EQ(ToInt32Rounded(2147483646.5), 2147483646);
    EXPECT_EQ(ToInt32Rounded(-2147483648.0), std::numeric_limits<std::int32_t>::min());
    // The even neighbour of -2147483648.5 is the lowest value itself.
    EXPECT_EQ(ToInt32Rounded(-2147483648.5), std::numeric_limits<std::int32_t>::min());
}

TEST(ToInt32RoundedTest, ValuesThatDoNotFitOverflow) {
    ExpectOverflow([] { ToInt32Rounded(2147483647.5); }, "2147483647.5");
    ExpectOverflow([] { ToInt32Rounded(2147483648.0); }, "2147483648");
    ExpectOverflow([] { ToInt32Rounded(-2147483649.0); }, "-2147483649");
    ExpectOverflow([] { ToInt32Rounded(-2147483649.5); }, "-2147483649.5");
    ExpectOverflow([] { ToInt32Rounded(1e300); }, "1e300");
    ExpectOverflow([] { ToInt32Rounded(std::numeric_limits<double>::infinity()); }, "inf");
    ExpectOverflow([] { ToInt32Rounded(std::numeric_limits<double>::quiet_NaN()); }, "NaN");
}

TEST(ToInt16RoundedTest, RoundsAndKeepsTheWholeRange) {
    EXPECT_EQ(ToInt16Rounded(99.0), 99);
    EXPECT_EQ(ToInt16Rounded(0.5), 0);
    EXPECT_EQ(ToInt16Rounded(32767.0), 32767);
    EXPECT_EQ(ToInt16Rounded(32767.4), 32767);
    EXPECT_EQ(ToInt16Rounded(32766.5), 32766);
    EXPECT_EQ(ToInt16Rounded(-32768.0), -32768);
    EXPECT_EQ(ToInt16Rounded(-32768.5), -32768);
}

TEST(ToInt16RoundedTest, ValuesThatDoNotFitOverflow) {
    ExpectOverflow([] { ToInt16Rounded(32767.5); }, "32767.5");
    ExpectOverflow([] { ToInt16Rounded(32768.0); }, "32768");
    ExpectOverflow([] { ToInt16Rounded(-32768.6); }, "-32768.6");
    ExpectOverflow([] { ToInt16Rounded(-32769.5); }, "-32769.5");
    ExpectOverflow([] { ToInt16Rounded(100000.0); }, "100000");
}

TEST(NumberTextTest, ReadThenStoreAsTheOptionLineDoes) {
    EXPECT_EQ(ToInt32Rounded(LeadingNumber("2 5 0ms")), 250);
    EXPECT_EQ(ToInt16Rounded(LeadingNumber("11.5")), 12);
    ExpectOverflow([] { ToInt32Rounded(LeadingNumber("2147483647.5")); }, "text 2147483647.5");
    ExpectOverflow([] { ToInt32Rounded(LeadingNumber(std::string(400, '9'))); }, "400 nines");
}

}  // namespace
}  // namespace quenlo
