// The file argument: directory or file, the split into path and name, the short-name rules and the
// file kinds chosen by the extension.
#include "files/file_names.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/fake_host.h"

namespace quenlo {
namespace {

// The characters a short name may hold, as single-byte text ("\xA3" is the pound sign).
const std::string kNameCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789`!\xA3$%^&()-_{}@'~#.";

class FileNamesTest : public ::testing::Test {
  protected:
    ResultCode Arg(const std::string& argument) {
        state.currentOption = argument;
        return CheckFileArg(state);
    }
    ResultCode Name(const std::string& name) {
        state.fileName = name;
        return CheckFilename(state);
    }

    testing::FakeHost host;
    RunState state{host};
};

TEST_F(FileNamesTest, ArgumentIsADirectoryOrSplitIntoPathAndName) {
    // Argument, result, path, name, send mode, program file, the procedure that decided.
    const std::tuple<const char*, ResultCode, const char*, const char*, bool, bool, const char*>
        rows[] = {
            {"A:", 0, "A:", "", false, false, "CheckFileArg2"},
            {"C:\\DATA\\", 0, "C:\\DATA\\", "", false, false, "CheckFileArg2"},
            {"C:/DATA/", 0, "C:/DATA/", "", false, false, "CheckFileArg2"},
            {"\\", 0, "\\", "", false, false, "CheckFileArg2"},
            // The path is written before the check.
            {"C:\\MY+DIR\\", 2, "C:\\MY+DIR\\", "", false, false, "CheckFileArg2"},
            {"AB:", 2, "", "AB:", true, false, "CheckFilename2"},
            {"C:X.PD3", 2, "", "C:X.PD3", true, false, "CheckFilename2"},
            {"C:\\BHT\\PROG.PD3", 0, "C:\\BHT\\", "PROG.PD3", true, true, "CheckFilename2"},
            {"/home/ann/PROG.PD4", 0, "/home/ann/", "PROG.PD4", true, true, "CheckFilename2"},
            // The last separator of either kind splits the argument.
            {"C:\\A/B\\DATA.TXT", 0, "C:\\A/B\\", "DATA.TXT", true, false, "CheckFilename2"},
            {"C:\\A\\B/DATA.TXT", 0, "C:\\A\\B/", "DATA.TXT", true, false, "CheckFilename2"},
            {"PROG.PD4", 0, "", "PROG.PD4", true, true, "CheckFilename2"},
            {".PD3", 0, "", ".PD3", true, true, "CheckFilename2"},
            // The directory part is checked for its characters only, and refused before the name is
            // classified.
            {"C:\\A VERY\\X.PD3", 2, "C:\\A VERY\\", "X.PD3", true, false, "CheckFileArg3"},
            {"C:\\MY+DIR\\X.PD3", 2, "C:\\MY+DIR\\", "X.PD3", true, false, "CheckFileArg3"},
            {"C:\\AVERYLONGDIRECTORYNAME\\1\\2\\3\\4\\5\\X:Y\\::\\X.PD3", 0,
             "C:\\AVERYLONGDIRECTORYNAME\\1\\2\\3\\4\\5\\X:Y\\::\\", "X.PD3", true, true,
             "CheckFilename2"},
            // Lower-case directories pass: the check works on an upper-case copy.
            {"c:\\data\\X.TXT", 0, "c:\\data\\", "X.TXT", true, false, "CheckFilename2"},
        };
    for (const auto& [arg, code, path, name, send, program, procedure] : rows) {
        SetDefaults(state);
        state.filePath = "OLD\\";
        EXPECT_EQ(Arg(arg), code) << arg;
        EXPECT_EQ(state.filePath, path) << arg;
        EXPECT_EQ(state.fileName, name) << arg;
        EXPECT_EQ(state.sendMode, send) << arg;
        EXPECT_EQ(state.programFile, program) << arg;
        EXPECT_EQ(state.currentProcedure, procedure) << arg;
    }
}

TEST_F(FileNamesTest, ExtensionChoosesTheFileKind) {
    const std::tuple<const char*, std::int16_t, bool> programs[] = {
        {"PROG.PD3", 128, false}, {"PROG.PD4", 1024, true}, {"SYS.FN3", 130, false},
        {"SYS.FN4", 1024, true},  {"X.EX3", 130, false},    {"APP.CAB", 1024, true},
        {".PD3", 128, false},
    };
    for (const auto& [name, recordLength, ymodem] : programs) {
        SetDefaults(state);
        state.fieldFileName = "UNTOUCHED";
        EXPECT_EQ(Arg(name), 0) << name;
        EXPECT_TRUE(state.programFile) << name;
        EXPECT_EQ(state.recordLength, recordLength) << name;
        EXPECT_EQ(state.ymodemMode, ymodem) << name;
        EXPECT_EQ(state.fieldFileName, "UNTOUCHED") << name;
    }
    // Everything else is a data file, lower-case program extensions included.
    const std::pair<const char*, const char*> data[] = {
        {"DATA.TXT", "DATA.FLD"},
        {"DATA", "DATA.FLD"},
        {"DATA.", "DATA.FLD"},
        {"CAB", "CAB.FLD"},
        {"PD3", "PD3.FLD"},
        {"X.PD5", "X.FLD"},
        {"X.PD", "X.FLD"},
        {"X.EXE", "X.FLD"},
        {"X.FLD", "X.FLD"},
        {"A.DAT", "A.FLD"},
        {"prog.pd3", "prog.FLD"},
        {"Prog.Pd4", "Prog.FLD"},
        {"ABCDEFGH", "ABCDEFGH.FLD"},
        {"\xA3~`.TXT", "\xA3~`.FLD"},
    };
    for (const auto& [name, fieldFile] : data) {
        SetDefaults(state);
        state.recordLength = 77;
        EXPECT_EQ(Arg(name), 0) << name;
        EXPECT_TRUE(state.sendMode) << name;
        EXPECT_FALSE(state.programFile) << name;
        EXPECT_FALSE(state.ymodemMode) << name;
        EXPECT_EQ(state.recordLength, 77) << name;
        EXPECT_EQ(state.fieldFileName, fieldFile) << name;
    }
}

TEST_F(FileNamesTest, ShortNameRules) {
    // 12 characters as 8 + 3 at most, one dot; the single-byte signs pass, accented letters and
    // the two bytes of a UTF-8 pound sign do not. Separators split an argument, not a name.
    const std::pair<const char*, ResultCode> rows[] = {
        {"ABCDEFGH.TXT", 0},  {"ABCDEFGH", 0},      {"A.TXT", 0},      {"A.T", 0},
        {"ABCDEFGHI.TXT", 2}, {"ABCDEFGHI.T", 2},   {"ABCDEFGHI", 2},  {"A.TEXT", 2},
        {"ABCDEFGH.TEXT", 2}, {"ABCDEFGHIJKLM", 2}, {"A.B.C", 2},      {"A..B", 2},
        {"A.PD3.", 2},        {"!$%^&()-.TXT", 0},  {"_{}@'#.TXT", 0}, {"CAF\xE9.TXT", 2},
        {"CAF\xC9.TXT", 2},   {"\xC2\xA3.TXT", 2},  {"A/B.TXT", 2},    {"A\\B.TXT", 2}};
    for (const auto& [name, code] : rows) {
        EXPECT_EQ(Name(name), code) << name;
        EXPECT_EQ(state.currentProcedure, "CheckFilename2") << name;
    }
    EXPECT_FALSE(state.programFile);  // "A.PD3." was refused before its classification
    for (const char c : std::string(" +,;=[]*?:\"<>|\t")) {
        const std::string name = std::string("A") + c + "B.TXT";
        EXPECT_EQ(Name(name), 2) << "character " << static_cast<int>(c);
        EXPECT_EQ(Arg(name), 2) << "argument with character " << static_cast<int>(c);
    }
}

TEST_F(FileNamesTest, CheckValidAcceptsExactlyTheNameCharacters) {
    EXPECT_EQ(CheckValid(state, kNameCharacters, 0), 0);
    EXPECT_EQ(state.currentProcedure, "CheckValid");
    EXPECT_EQ(CheckValid(state, "abcdefghijklmnopqrstuvwxyz", 0), 0);
    EXPECT_EQ(CheckValid(state, "", 0), 0);
    EXPECT_EQ(CheckValid(state, "", 1), 0);
    // Directory characters only with the flag at exactly 1.
    EXPECT_EQ(CheckValid(state, "C:\\DATA\\", 1), 0);
    EXPECT_EQ(CheckValid(state, "C:/DATA/", 1), 0);
    for (const std::int16_t flag : {0, 2, -1}) {
        EXPECT_EQ(CheckValid(state, "C:\\DATA\\", flag), 2) << flag;
    }
    EXPECT_EQ(CheckValid(state, "A/B", 0), 2);
    EXPECT_EQ(CheckValid(state, "A:", 0), 2);
    EXPECT_EQ(CheckValid(state, "C:\\MY DIR\\", 1), 2);

    int acceptedPlain = 0;
    int acceptedWithDirectory = 0;
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        if (CheckValid(state, one, 0) == 0) {
            ++acceptedPlain;
            const bool member = kNameCharacters.find(static_cast<char>(b)) != std::string::npos ||
                                (b >= 'a' && b <= 'z');
            EXPECT_TRUE(member) << "byte " << b;
        }
        acceptedWithDirectory += CheckValid(state, one, 1) == 0 ? 1 : 0;
    }
    EXPECT_EQ(acceptedPlain, 54 + 26);
    EXPECT_EQ(acceptedWithDirectory, 54 + 26 + 3);  // ":", "\" and "/"
}

TEST_F(FileNamesTest, LaterArgumentsReplaceOnlyWhatTheyWrite) {
    EXPECT_EQ(Arg("C:\\BHT\\PROG.PD3"), 0);
    EXPECT_EQ(Arg("D:\\IN\\"), 0);
    EXPECT_EQ(state.filePath, "D:\\IN\\");
    EXPECT_EQ(state.fileName, "PROG.PD3");
    EXPECT_TRUE(state.sendMode);  // once a file is named the run sends

    EXPECT_EQ(Arg("C:\\OK\\GOOD.TXT"), 0);
    EXPECT_EQ(Arg("D:\\BAD\\A.B.C"), 2);
    EXPECT_EQ(state.filePath, "D:\\BAD\\");
    EXPECT_EQ(state.fileName, "A.B.C");
    EXPECT_EQ(state.fieldFileName, "GOOD.FLD");  // the refused name wrote none
}

TEST_F(FileNamesTest, ProgramAndYmodemFlagsAreNeverCleared) {
    EXPECT_EQ(Arg("APP.CAB"), 0);
    ASSERT_TRUE(state.programFile);
    ASSERT_TRUE(state.ymodemMode);
    const std::pair<const char*, ResultCode> later[] = {
        {"PROG.PD3", 0}, {"DATA.TXT", 0}, {"BAD NAME", 2}, {"C:\\IN\\", 0}};
    for (const auto& [next, code] : later) {
        EXPECT_EQ(Arg(next), code) << next;
        EXPECT_TRUE(state.programFile) << next;
        EXPECT_TRUE(state.ymodemMode) << next;
    }
    EXPECT_EQ(state.recordLength, 128);  // from PROG.PD3, the last program name
}

TEST_F(FileNamesTest, CheckFilenameReadsFileNameOnly) {
    state.filePath = "C:\\KEEP\\";
    state.currentOption = "IGNORED.PD3";
    EXPECT_EQ(Name("SYS.FN4"), 0);
    EXPECT_EQ(state.filePath, "C:\\KEEP\\");
    EXPECT_EQ(state.recordLength, 1024);
    EXPECT_TRUE(state.ymodemMode);
    EXPECT_FALSE(state.sendMode);
}

}  // namespace
}  // namespace quenlo
