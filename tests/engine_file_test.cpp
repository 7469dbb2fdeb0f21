// Line reading and line counting of engine files: both must see the same lines for every mix of
// line ends, including line ends split across the read buffer and lines longer than it.
#include "files/engine_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace quenlo {
namespace {

using Lines = std::vector<std::string>;

// Size of the engine file's read buffer: the boundary cases straddle it.
constexpr std::size_t kBuffer = 65536;

// The plain statement of the rule: a line ends at CR, CR LF or LF; text after the last end is a
// line of its own; nothing after the last end adds no line.
Lines ReferenceLines(const std::string& text) {
    Lines lines;
    std::string current;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(current);
            current.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) {
        lines.push_back(current);
    }
    return lines;
}

class EngineFileTest : public ::testing::Test {
  protected:
    std::unique_ptr<EngineFile> Open(const std::string& content) {
        const auto path = dir.Write("F" + std::to_string(counter++) + ".TXT", content);
        int error = -1;
        auto file = EngineFile::Open(path, EngineFile::Mode::kRead, error);
        EXPECT_NE(file, nullptr);
        EXPECT_EQ(error, 0);
        return file;
    }
    Lines ReadAll(const std::string& content) {
        auto file = Open(content);
        Lines lines;
        std::string line;
        while (file->ReadLine(line)) {
            lines.push_back(line);
        }
        // The end stays the end.
        EXPECT_FALSE(file->ReadLine(line));
        EXPECT_EQ(line, "");
        return lines;
    }
    std::int64_t Count(const std::string& content, std::int64_t limit = 1'000'000) {
        return Open(content)->CountLines(limit);
    }
    // ReadLine, CountLines and the reference must agree on content.
    void ExpectAgreement(const std::string& content, const std::string& label) {
        const Lines expected = ReferenceLines(content);
        const Lines read = ReadAll(content);
        EXPECT_EQ(read, expected) << label;
        EXPECT_EQ(Count(content), static_cast<std::int64_t>(expected.size())) << label;
    }

    testing::TempDir dir;
    int counter = 0;
};

TEST_F(EngineFileTest, LinesOfEveryMixOfLineEnds) {
    // A CR LF split over the read buffer, line ends there that do not pair, lines longer than it.
    const std::string first(kBuffer - 1, 'A');
    const std::string full(kBuffer, 'C');
    const std::string longLine(3 * kBuffer + 17, 'L');
    const std::string bytes("\x00\x01\xA3\xE9\xFF\t", 6);  // passed through unchanged
    const std::pair<std::string, Lines> rows[] = {
        {"ONE\rTWO\r", {"ONE", "TWO"}},
        {"ONE\r\nTWO\r\n", {"ONE", "TWO"}},
        {"ONE\nTWO\n", {"ONE", "TWO"}},
        {"A\rB\r\nC\nD", {"A", "B", "C", "D"}},
        {"A\n\rB", {"A", "", "B"}},  // LF then CR: two line ends
        {"\n\r", {"", ""}},
        {"A\r\r\nB", {"A", "", "B"}},
        {"A\r\nB", {"A", "B"}},  // text after the last end is a line
        {"ONLY", {"ONLY"}},
        {"A\r\n", {"A"}},
        {"", {}},
        {"\r\n", {""}},
        {"\r\n\r\n\nX\r\r", {"", "", "", "X", ""}},
        {first + "\r\nB", {first, "B"}},
        {first + "\r\n", {first}},
        {first + "\rB", {first, "B"}},
        {first + "\n\rB", {first, "", "B"}},
        {first + "\r", {first}},
        {full, {full}},
        {longLine + "\r\nshort\r\n" + longLine, {longLine, "short", longLine}},
        {longLine, {longLine}},
        {bytes + "\r\n" + bytes, {bytes, bytes}},
    };
    ASSERT_EQ(rows[13].first.substr(kBuffer - 1, 2), "\r\n");
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& [content, lines] = rows[i];
        // The reference is checked too, as the random cases below rely on it.
        EXPECT_EQ(ReferenceLines(content), lines) << "row " << i;
        EXPECT_EQ(ReadAll(content), lines) << "row " << i;
        EXPECT_EQ(Count(content), static_cast<std::int64_t>(lines.size())) << "row " << i;
    }
}

TEST_F(EngineFileTest, CountStopsOnceTheLimitIsExceeded) {
    const std::string five = "1\n2\n3\n4\n5\n";
    const std::pair<std::int64_t, std::int64_t> limits[] = {
        {10, 5}, {5, 5}, {4, 5}, {2, 3}, {0, 1}};
    for (const auto& [limit, count] : limits) {
        EXPECT_EQ(Count(five, limit), count) << "limit " << limit;
    }
    EXPECT_EQ(Count("1\n2\n3", 2), 3);  // the unended last line is the one too many
    EXPECT_EQ(Count("1\n2\n3", 3), 3);
}

TEST_F(EngineFileTest, CountAfterSomeLinesWereRead) {
    auto file = Open("A\r\nB\r\nC\rD\nE");
    std::string line;
    ASSERT_TRUE(file->ReadLine(line));
    EXPECT_EQ(line, "A");
    ASSERT_TRUE(file->ReadLine(line));
    EXPECT_EQ(line, "B");
    EXPECT_EQ(file->CountLines(100), 3);
    EXPECT_FALSE(file->ReadLine(line));
    // The LF waiting after a CR belongs to the line already read.
    file = Open("A\r\n\r\nB");
    ASSERT_TRUE(file->ReadLine(line));
    EXPECT_EQ(file->CountLines(100), 2);
}

// Random small files over an alphabet rich in line ends, then random tails placed right at the
// buffer boundary.
TEST_F(EngineFileTest, RandomInputsAgree) {
    std::mt19937 random(20260612);
    const auto randomText = [&random](std::string text, const std::string& alphabet, int n) {
        std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
        for (int i = 0; i < n; ++i) {
            text.push_back(alphabet[pick(random)]);
        }
        return text;
    };
    for (int round = 0; round < 1500 && !HasFailure(); ++round) {
        const std::string content =
            randomText("", "ab\r\n\r\n", std::uniform_int_distribution<int>(0, 40)(random));
        const auto total = static_cast<std::int64_t>(ReferenceLines(content).size());
        ExpectAgreement(content, "round " + std::to_string(round));

        // Reading some lines first leaves the rest to count.
        const auto first = std::uniform_int_distribution<std::int64_t>(0, total)(random);
        auto file = Open(content);
        std::string line;
        for (std::int64_t i = 0; i < first; ++i) {
            ASSERT_TRUE(file->ReadLine(line));
        }
        EXPECT_EQ(file->CountLines(1'000'000), total - first)
            << "round " << round << " after " << first;

        // A limit cuts the count one past it.
        const std::int64_t limit = std::uniform_int_distribution<std::int64_t>(0, 10)(random);
        EXPECT_EQ(Count(content, limit), std::min(total, limit + 1))
            << "round " << round << " limit " << limit;
    }
    std::uniform_int_distribution<std::size_t> prefix(kBuffer - 6, kBuffer + 2);
    for (int round = 0; round < 150 && !HasFailure(); ++round) {
        ExpectAgreement(randomText(std::string(prefix(random), 'p'), "x\r\n", 10),
                        "boundary round " + std::to_string(round));
    }
}

}  // namespace
}  // namespace quenlo
