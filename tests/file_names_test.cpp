// The file argument: directory or file, the split into path and name, the short-name rules and the
// file kinds chosen by the extension.
#include "files/file_names.h"

#include <gtest/gtest.h>

#include <string>

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

TEST_F(FileNamesTest, BareDriveIsADirectory) {
    EXPECT_EQ(Arg("A:"), 0);
    EXPECT_EQ(state.filePath, "A:");
    EXPECT_FALSE(state.sendMode);
    EXPECT_EQ(state.fileName, "");
    EXPECT_EQ(state.currentProcedure, "CheckFileArg2");
}

TEST_F(FileNamesTest, PathEndingInASeparatorIsADirectory) {
    EXPECT_EQ(Arg("C:\\DATA\\"), 0);
    EXPECT_EQ(state.filePath, "C:\\DATA\\");
    EXPECT_FALSE(state.sendMode);
    EXPECT_EQ(state.currentProcedure, "CheckFileArg2");

    EXPECT_EQ(Arg("C:/DATA/"), 0);
    EXPECT_EQ(state.filePath, "C:/DATA/");
    EXPECT_FALSE(state.sendMode);

    EXPECT_EQ(Arg("\\"), 0);
    EXPECT_EQ(state.filePath, "\\");
}

TEST_F(FileNamesTest, DirectoryLeavesAnEarlierFileInPlace) {
    EXPECT_EQ(Arg("C:\\BHT\\PROG.PD3"), 0);
    EXPECT_EQ(Arg("D:\\IN\\"), 0);
    EXPECT_EQ(state.filePath, "D:\\IN\\");
    EXPECT_EQ(state.fileName, "PROG.PD3");
    EXPECT_TRUE(state.sendMode);  // once a file is named the run sends
}

TEST_F(FileNamesTest, DirectoryWithABadCharacterIsRefused) {
    EXPECT_EQ(Arg("C:\\MY+DIR\\"), 2);
    EXPECT_EQ(state.filePath, "C:\\MY+DIR\\");  // written before the check
    EXPECT_FALSE(state.sendMode);
    EXPECT_EQ(state.currentProcedure, "CheckFileArg2");
}

TEST_F(FileNamesTest, ColonIsRefusedInAName) {
    EXPECT_EQ(Arg("AB:"), 2);
    EXPECT_TRUE(state.sendMode);
    EXPECT_EQ(state.filePath, "");
    EXPECT_EQ(state.fileName, "AB:");
    EXPECT_EQ(state.currentProcedure, "CheckFilename2");

    EXPECT_EQ(Arg("C:X.PD3"), 2);
    EXPECT_EQ(state.fileName, "C:X.PD3");
    EXPECT_FALSE(state.programFile);
}

TEST_F(FileNamesTest, FullPathOfAProgramFile) {
    EXPECT_EQ(Arg("C:\\BHT\\PROG.PD3"), 0);
    EXPECT_EQ(state.filePath, "C:\\BHT\\");
    EXPECT_EQ(state.fileName, "PROG.PD3");
    EXPECT_TRUE(state.sendMode);
    EXPECT_TRUE(state.programFile);
    EXPECT_EQ(state.recordLength, 128);
    EXPECT_FALSE(state.ymodemMode);
    EXPECT_EQ(state.currentProcedure, "CheckFilename2");
}

TEST_F(FileNamesTest, SlashSeparatesDirectoriesLikeBackslash) {
    EXPECT_EQ(Arg("/home/ann/PROG.PD4"), 0);
    EXPECT_EQ(state.filePath, "/home/ann/");
    EXPECT_EQ(state.fileName, "PROG.PD4");
    EXPECT_EQ(state.recordLength, 1024);

    // The last separator of either kind splits the argument.
    EXPECT_EQ(Arg("C:\\A/B\\DATA.TXT"), 0);
    EXPECT_EQ(state.filePath, "C:\\A/B\\");
    EXPECT_EQ(state.fileName, "DATA.TXT");
    EXPECT_EQ(Arg("C:\\A\\B/DATA.TXT"), 0);
    EXPECT_EQ(state.filePath, "C:\\A\\B/");
    EXPECT_EQ(state.fileName, "DATA.TXT");
}

TEST_F(FileNamesTest, NameWithoutDirectoryHasAnEmptyPath) {
    state.filePath = "OLD\\";
    EXPECT_EQ(Arg("PROG.PD4"), 0);
    EXPECT_EQ(state.filePath, "");
    EXPECT_EQ(state.fileName, "PROG.PD4");
    EXPECT_TRUE(state.programFile);
    EXPECT_EQ(state.recordLength, 1024);
    EXPECT_TRUE(state.ymodemMode);
}

TEST_F(FileNamesTest, DirectoryPartIsCheckedForCharactersOnly) {
    EXPECT_EQ(Arg("C:\\A VERY\\X.PD3"), 2);  // blank in the directory part
    EXPECT_EQ(state.currentProcedure, "CheckFileArg3");
    EXPECT_TRUE(state.sendMode);
    EXPECT_EQ(state.filePath, "C:\\A VERY\\");
    EXPECT_EQ(state.fileName, "X.PD3");
    EXPECT_FALSE(state.programFile);  // never reached the classification

    EXPECT_EQ(Arg("C:\\MY+DIR\\X.PD3"), 2);
    EXPECT_EQ(state.currentProcedure, "CheckFileArg3");

    // Long components, many levels and a colon anywhere are not the directory check's business.
    EXPECT_EQ(Arg("C:\\AVERYLONGDIRECTORYNAME\\1\\2\\3\\4\\5\\X:Y\\::\\X.PD3"), 0);
    EXPECT_EQ(state.fileName, "X.PD3");
    // Lower-case directories pass: the check works on an upper-case copy.
    EXPECT_EQ(Arg("c:\\data\\X.TXT"), 0);
    EXPECT_EQ(state.filePath, "c:\\data\\");
}

TEST_F(FileNamesTest, ExtensionTable) {
    struct Row {
        const char* name;
        std::int16_t recordLength;
        bool ymodem;
    };
    const Row rows[] = {
        {"PROG.PD3", 128, false}, {"PROG.PD4", 1024, true}, {"SYS.FN3", 130, false},
        {"SYS.FN4", 1024, true},  {"X.EX3", 130, false},    {"APP.CAB", 1024, true},
    };
    for (const Row& row : rows) {
        SetDefaults(state);
        state.fieldFileName = "UNTOUCHED";
        EXPECT_EQ(Arg(row.name), 0) << row.name;
        EXPECT_TRUE(state.programFile) << row.name;
        EXPECT_EQ(state.recordLength, row.recordLength) << row.name;
        EXPECT_EQ(state.ymodemMode, row.ymodem) << row.name;
        EXPECT_EQ(state.fieldFileName, "UNTOUCHED") << row.name;
    }
}

TEST_F(FileNamesTest, OtherExtensionsAreDataFiles) {
    const std::pair<const char*, const char*> cases[] = {
        {"DATA.TXT", "DATA.FLD"}, {"DATA", "DATA.FLD"},         {"DATA.", "DATA.FLD"},
        {"CAB", "CAB.FLD"},       {"PD3", "PD3.FLD"},           {"X.PD5", "X.FLD"},
        {"X.PD", "X.FLD"},        {"X.EXE", "X.FLD"},           {"X.FLD", "X.FLD"},
        {"A.DAT", "A.FLD"},       {"ABCDEFGH", "ABCDEFGH.FLD"},
    };
    for (const auto& [name, fieldFile] : cases) {
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

TEST_F(FileNamesTest, ShortNameLimits) {
    EXPECT_EQ(Name("ABCDEFGH.TXT"), 0);  // 8 + 3, 12 characters
    EXPECT_EQ(Name("ABCDEFGH"), 0);
    EXPECT_EQ(Name("A.TXT"), 0);
    EXPECT_EQ(Name("A.T"), 0);
    EXPECT_EQ(Name("ABCDEFGHI.TXT"), 2);  // 13 characters, nine before the dot
    EXPECT_EQ(Name("ABCDEFGHI.T"), 2);    // nine before the dot
    EXPECT_EQ(Name("ABCDEFGHI"), 2);      // nine without a dot
    EXPECT_EQ(Name("A.TEXT"), 2);         // four after the dot
    EXPECT_EQ(Name("ABCDEFGH.TEXT"), 2);
    EXPECT_EQ(Name("ABCDEFGHIJKLM"), 2);
    EXPECT_EQ(state.currentProcedure, "CheckFilename2");
}

TEST_F(FileNamesTest, EmptyBaseNameWithAProgramExtension) {
    state.fieldFileName = "UNTOUCHED";
    EXPECT_EQ(Arg(".PD3"), 0);
    EXPECT_EQ(state.filePath, "");
    EXPECT_EQ(state.fileName, ".PD3");
    EXPECT_TRUE(state.programFile);
    EXPECT_EQ(state.recordLength, 128);
    EXPECT_EQ(state.fieldFileName, "UNTOUCHED");
}

TEST_F(FileNamesTest, SecondDotIsRefused) {
    EXPECT_EQ(Name("A.B.C"), 2);
    EXPECT_EQ(Name("A..B"), 2);
    EXPECT_EQ(Name("A.PD3."), 2);
    EXPECT_FALSE(state.programFile);
}

TEST_F(FileNamesTest, SignsAndAccentsInNames) {
    EXPECT_EQ(Name("\xA3~`.TXT"), 0);
    EXPECT_EQ(state.fieldFileName, "\xA3~`.FLD");
    EXPECT_EQ(Name("!$%^&()-.TXT"), 0);
    EXPECT_EQ(Name("_{}@'#.TXT"), 0);
    EXPECT_EQ(Name("CAF\xE9.TXT"), 2);  // e acute
    EXPECT_EQ(Name("CAF\xC9.TXT"), 2);  // E acute
    // The pound sign in UTF-8 is two bytes that no name may hold.
    EXPECT_EQ(Name("\xC2\xA3.TXT"), 2);
}

TEST_F(FileNamesTest, PunctuationRefusedInNames) {
    for (const char c : std::string(" +,;=[]*?:\"<>|\t")) {
        const std::string name = std::string("A") + c + "B.TXT";
        EXPECT_EQ(Name(name), 2) << "character " << static_cast<int>(c);
        EXPECT_EQ(Arg(name), 2) << "argument with character " << static_cast<int>(c);
    }
    // In an argument the separators split off a directory; inside a name they are refused.
    EXPECT_EQ(Name("A/B.TXT"), 2);
    EXPECT_EQ(Name("A\\B.TXT"), 2);
}

TEST_F(FileNamesTest, LowerCaseNamePassesButIsADataFile) {
    EXPECT_EQ(Name("prog.pd3"), 0);
    EXPECT_FALSE(state.programFile);
    EXPECT_EQ(state.fieldFileName, "prog.FLD");
    EXPECT_EQ(Name("Prog.Pd4"), 0);
    EXPECT_FALSE(state.programFile);
    EXPECT_FALSE(state.ymodemMode);
}

TEST_F(FileNamesTest, CheckValidAcceptsExactlyTheNameCharacters) {
    EXPECT_EQ(CheckValid(state, kNameCharacters, 0), 0);
    EXPECT_EQ(state.currentProcedure, "CheckValid");
    EXPECT_EQ(CheckValid(state, "abcdefghijklmnopqrstuvwxyz", 0), 0);
    EXPECT_EQ(CheckValid(state, "", 0), 0);
    EXPECT_EQ(CheckValid(state, "", 1), 0);

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
        if (CheckValid(state, one, 1) == 0) {
            ++acceptedWithDirectory;
        }
    }
    EXPECT_EQ(acceptedPlain, 54 + 26);
    EXPECT_EQ(acceptedWithDirectory, 54 + 26 + 3);  // ":", "\" and "/"
}

TEST_F(FileNamesTest, CheckValidDirectoryCharactersOnlyWithFlagOne) {
    EXPECT_EQ(CheckValid(state, "C:\\DATA\\", 1), 0);
    EXPECT_EQ(CheckValid(state, "C:/DATA/", 1), 0);
    EXPECT_EQ(CheckValid(state, "C:\\DATA\\", 0), 2);
    EXPECT_EQ(CheckValid(state, "C:\\DATA\\", 2), 2);
    EXPECT_EQ(CheckValid(state, "C:\\DATA\\", -1), 2);
    EXPECT_EQ(CheckValid(state, "A/B", 0), 2);
    EXPECT_EQ(CheckValid(state, "A:", 0), 2);
    EXPECT_EQ(CheckValid(state, "C:\\MY DIR\\", 1), 2);
}

TEST_F(FileNamesTest, CheckValidLeavesItsTextAlone) {
    const std::string text = "abc.txt";
    EXPECT_EQ(CheckValid(state, text, 0), 0);
    EXPECT_EQ(text, "abc.txt");
}

TEST_F(FileNamesTest, RefusalKeepsWhatWasWritten) {
    EXPECT_EQ(Arg("C:\\OK\\GOOD.TXT"), 0);
    EXPECT_EQ(Arg("D:\\BAD\\A.B.C"), 2);
    EXPECT_TRUE(state.sendMode);
    EXPECT_EQ(state.filePath, "D:\\BAD\\");
    EXPECT_EQ(state.fileName, "A.B.C");
    EXPECT_EQ(state.fieldFileName, "GOOD.FLD");  // the refused name wrote none
}

TEST_F(FileNamesTest, ProgramAndYmodemFlagsAreNeverCleared) {
    EXPECT_EQ(Arg("APP.CAB"), 0);
    ASSERT_TRUE(state.programFile);
    ASSERT_TRUE(state.ymodemMode);
    EXPECT_EQ(Arg("PROG.PD3"), 0);
    EXPECT_TRUE(state.ymodemMode);
    EXPECT_EQ(state.recordLength, 128);
    EXPECT_EQ(Arg("DATA.TXT"), 0);
    EXPECT_TRUE(state.programFile);
    EXPECT_TRUE(state.ymodemMode);
    EXPECT_EQ(Arg("BAD NAME"), 2);
    EXPECT_TRUE(state.programFile);
    EXPECT_TRUE(state.ymodemMode);
    EXPECT_EQ(Arg("C:\\IN\\"), 0);
    EXPECT_TRUE(state.programFile);
    EXPECT_TRUE(state.ymodemMode);
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
