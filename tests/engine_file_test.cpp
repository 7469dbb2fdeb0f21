// Line reading and line counting of engine files: both must see the same lines for every mix of
// line ends, including line ends split across the read buffer and lines longer than it.
#include "files/engine_file.h"

#include <gtest/gtest.h>

#include <cstdint>
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

TEST_F(EngineFileTest, ReferenceSplitterItself) {
    EXPECT_EQ(ReferenceLines("A\rB\r\nC\nD"), (Lines{"A", "B", "C", "D"}));
    EXPECT_EQ(ReferenceLines("\n\r"), (Lines{"", ""}));
    EXPECT_EQ(ReferenceLines("A\r\n"), (Lines{"A"}));
    EXPECT_EQ(ReferenceLines(""), Lines{});
}

TEST_F(EngineFileTest, EachLineEnd) {
    EXPECT_EQ(ReadAll("ONE\rTWO\r"), (Lines{"ONE", "TWO"}));
    EXPECT_EQ(ReadAll("ONE\r\nTWO\r\n"), (Lines{"ONE", "TWO"}));
    EXPECT_EQ(ReadAll("ONE\nTWO\n"), (Lines{"ONE", "TWO"}));
    EXPECT_EQ(Count("ONE\rTWO\r"), 2);
    EXPECT_EQ(Count("ONE\r\nTWO\r\n"), 2);
    EXPECT_EQ(Count("ONE\nTWO\n"), 2);
}

TEST_F(EngineFileTest, LfThenCrIsTwoLineEnds) {
    EXPECT_EQ(ReadAll("A\n\rB"), (Lines{"A", "", "B"}));
    EXPECT_EQ(Count("A\n\rB"), 3);
    EXPECT_EQ(ReadAll("\n\r"), (Lines{"", ""}));
    EXPECT_EQ(Count("\n\r"), 2);
}

TEST_F(EngineFileTest, CrCrLfIsTwoLineEnds) {
    EXPECT_EQ(ReadAll("A\r\r\nB"), (Lines{"A", "", "B"}));
    EXPECT_EQ(Count("A\r\r\nB"), 3);
}

TEST_F(EngineFileTest, TextAfterTheLastEnd) {
    EXPECT_EQ(ReadAll("A\r\nB"), (Lines{"A", "B"}));
    EXPECT_EQ(Count("A\r\nB"), 2);
    EXPECT_EQ(ReadAll("ONLY"), (Lines{"ONLY"}));
    EXPECT_EQ(Count("ONLY"), 1);
}

TEST_F(EngineFileTest, EmptyFileAndEmptyLines) {
    EXPECT_EQ(ReadAll(""), Lines{});
    EXPECT_EQ(Count(""), 0);
    EXPECT_EQ(ReadAll("\r\n"), (Lines{""}));
    EXPECT_EQ(Count("\r\n"), 1);
    EXPECT_EQ(ReadAll("\r\n\r\n\nX\r\r"), (Lines{"", "", "", "X", ""}));
    EXPECT_EQ(Count("\r\n\r\n\nX\r\r"), 5);
}

TEST_F(EngineFileTest, CrLfSplitAcrossTheReadBuffer) {
    // CR is the last byte of the first buffer, LF the first of the second.
    const std::string first(kBuffer - 1, 'A');
    const std::string content = first + "\r\nB";
    ASSERT_EQ(content[kBuffer - 1], '\r');
    ASSERT_EQ(content[kBuffer], '\n');
    EXPECT_EQ(ReadAll(content), (Lines{first, "B"}));
    EXPECT_EQ(Count(content), 2);
    // The same with nothing after the LF.
    EXPECT_EQ(ReadAll(first + "\r\n"), (Lines{first}));
    EXPECT_EQ(Count(first + "\r\n"), 1);
}

TEST_F(EngineFileTest, LineEndsAtTheBufferBoundaryThatDoNotPair) {
    const std::string first(kBuffer - 1, 'A');
    // CR ending the buffer, then a text byte: the LF rule must not swallow it.
    EXPECT_EQ(ReadAll(first + "\rB"), (Lines{first, "B"}));
    EXPECT_EQ(Count(first + "\rB"), 2);
    // LF ending the buffer, then CR: two line ends.
    EXPECT_EQ(ReadAll(first + "\n\rB"), (Lines{first, "", "B"}));
    EXPECT_EQ(Count(first + "\n\rB"), 3);
    // CR ending the buffer and the file.
    EXPECT_EQ(ReadAll(first + "\r"), (Lines{first}));
    EXPECT_EQ(Count(first + "\r"), 1);
    // A file of exactly one buffer without a line end.
    const std::string full(kBuffer, 'C');
    EXPECT_EQ(ReadAll(full), (Lines{full}));
    EXPECT_EQ(Count(full), 1);
}

TEST_F(EngineFileTest, LinesLongerThanTheBuffer) {
    const std::string longLine(3 * kBuffer + 17, 'L');
    EXPECT_EQ(ReadAll(longLine + "\r\nshort\r\n" + longLine), (Lines{longLine, "short", longLine}));
    EXPECT_EQ(Count(longLine + "\r\nshort\r\n" + longLine), 3);
    EXPECT_EQ(Count(longLine), 1);
}

TEST_F(EngineFileTest, LineBytesPassThroughUnchanged) {
    const std::string bytes = std::string("\x00\x01\xA3\xE9\xFF\t", 6);
    EXPECT_EQ(ReadAll(bytes + "\r\n"), (Lines{bytes}));
    EXPECT_EQ(Count(bytes + "\r\n" + bytes), 2);
}

TEST_F(EngineFileTest, CountStopsOnceTheLimitIsExceeded) {
    const std::string five = "1\n2\n3\n4\n5\n";
    EXPECT_EQ(Count(five, 10), 5);
    EXPECT_EQ(Count(five, 5), 5);
    EXPECT_EQ(Count(five, 4), 5);
    EXPECT_EQ(Count(five, 2), 3);
    EXPECT_EQ(Count(five, 0), 1);
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
}

TEST_F(EngineFileTest, CountAfterALineEndedByCr) {
    // The LF waiting after the CR belongs to the line already read.
    auto file = Open("A\r\n\r\nB");
    std::string line;
    ASSERT_TRUE(file->ReadLine(line));
    EXPECT_EQ(file->CountLines(100), 2);
}

TEST_F(EngineFileTest, WrittenBytesAreNotTranslated) {
    int error = -1;
    auto file = EngineFile::Open(dir.path() / "OUT.TXT", EngineFile::Mode::kWrite, error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Write("A\r\nB\n\xA3"), 0);
    EXPECT_EQ(file->Close(), 0);
    EXPECT_EQ(dir.Read("OUT.TXT"), "A\r\nB\n\xA3");
    file = EngineFile::Open(dir.path() / "OUT.TXT", EngineFile::Mode::kAppend, error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Write("C"), 0);
    file.reset();  // closing on destruction flushes
    EXPECT_EQ(dir.Read("OUT.TXT"),
              "A\r\nB\n\xA3"
              "C");
}

TEST_F(EngineFileTest, OpenReportsTheSystemError) {
    int error = 0;
    EXPECT_EQ(EngineFile::Open(dir.path() / "NONE.TXT", EngineFile::Mode::kRead, error), nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(EngineFile::Open(dir.path(), EngineFile::Mode::kRead, error), nullptr);
    EXPECT_EQ(error, EISDIR);
}

// Random small files over an alphabet rich in line ends.
TEST_F(EngineFileTest, RandomSmallInputsAgree) {
    std::mt19937 random(20260612);
    const std::string alphabet = "ab\r\n\r\n";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    for (int round = 0; round < 1500; ++round) {
        std::string content;
        const int n = length(random);
        for (int i = 0; i < n; ++i) {
            content.push_back(alphabet[pick(random)]);
        }
        const Lines expected = ReferenceLines(content);
        ExpectAgreement(content, "round " + std::to_string(round));

        // Reading some lines first leaves the rest to count.
        std::uniform_int_distribution<std::size_t> split(0, expected.size());
        const std::size_t first = split(random);
        auto file = Open(content);
        std::string line;
        for (std::size_t i = 0; i < first; ++i) {
            ASSERT_TRUE(file->ReadLine(line));
        }
        EXPECT_EQ(file->CountLines(1'000'000), static_cast<std::int64_t>(expected.size() - first))
            << "round " << round << " after " << first;

        // A limit cuts the count one past it.
        const auto total = static_cast<std::int64_t>(expected.size());
        const std::int64_t limit = std::uniform_int_distribution<std::int64_t>(0, 10)(random);
        EXPECT_EQ(Count(content, limit), std::min(total, limit + 1))
            << "round " << round << " limit " << limit;
        if (HasFailure()) {
            return;
        }
    }
}

// Random tails placed right at the buffer boundary.
TEST_F(EngineFileTest, RandomInputsAroundTheBufferBoundaryAgree) {
    std::mt19937 random(65536);
    const std::string alphabet = "x\r\n";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<std::size_t> prefix(kBuffer - 6, kBuffer + 2);
    for (int round = 0; round < 150; ++round) {
        std::string content(prefix(random), 'p');
        for (int i = 0; i < 10; ++i) {
            content.push_back(alphabet[pick(random)]);
        }
        ExpectAgreement(content, "boundary round " + std::to_string(round));
        if (HasFailure()) {
            return;
        }
    }
}

}  // namespace
}  // namespace quenlo
