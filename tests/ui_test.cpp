// The desktop windows on Qt's offscreen platform, driven by their controls' object names.
#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "engine/run_state.h"
#include "engine/run_transfer.h"
#include "engine/runtime_error.h"
#include "support/engine_fixture.h"
#include "ui/about_box.h"
#include "ui/main_window.h"
#include "ui/transfer_window.h"

namespace quenlo {
namespace {

template <typename T>
T* Find(QWidget* root, const char* name) {
    T* widget = root->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

class WindowTest : public testing::EngineFixture {
  protected:
    WindowTest() {
        window.SetAboutShower([this](QWidget*) { ++aboutShown; });
    }

    QLineEdit* Edit(const char* name) { return Find<QLineEdit>(&window, name); }
    QComboBox* List(const char* name) { return Find<QComboBox>(&window, name); }
    QCheckBox* Check(const char* name) { return Find<QCheckBox>(&window, name); }
    QPushButton* Button(const char* name) { return Find<QPushButton>(&window, name); }

    // Types the program path and presses Send; returns the option line handed over, if any.
    std::optional<std::string> Send(const QString& program) {
        lines.clear();
        Edit("txtProg")->setText(program);
        Button("cmdSend")->click();
        if (lines.empty()) {
            return std::nullopt;
        }
        return lines.back();
    }

    std::vector<std::string> lines;
    int aboutShown = 0;
    TransferWindow transferWindow;
    MainWindow::Runner runner = [this](const std::string& line) { lines.push_back(line); };
    MainWindow window{host, [this](const std::string& line) { runner(line); }, &transferWindow};
};

TEST_F(WindowTest, LoadShowsTheDefaults) {
    EXPECT_EQ(window.objectName(), "frmMain");
    EXPECT_EQ(window.windowTitle(), "BHT Quenlo");
    EXPECT_EQ(Edit("txtProg")->text(), "");
    EXPECT_EQ(Edit("txtIRDelay")->text(), "0");
    EXPECT_EQ(Edit("txtIRDelay")->maxLength(), 4);
    const std::pair<const char*, QString> firsts[] = {
        {"cboPort", "COM 1"},  {"cboSpeed", "115200"}, {"cboParity", "None"},
        {"cboData", "8 bits"}, {"cboStop", "1 bit"},   {"cboTime", "30 secs"}};
    for (const auto& [name, text] : firsts) {
        EXPECT_EQ(List(name)->currentText(), text) << name;
        EXPECT_FALSE(List(name)->isEditable()) << name;
    }
    EXPECT_EQ(List("cboPort")->count(), 20);
    EXPECT_EQ(List("cboPort")->itemText(19), "COM 20");
    EXPECT_EQ(List("cboSpeed")->count(), 9);
    EXPECT_EQ(List("cboTime")->itemText(4), "max");
    EXPECT_TRUE(Check("chkBCC")->isChecked());
    EXPECT_EQ(Check("chkBCC")->text(), "BCC Parity");
    EXPECT_TRUE(Check("chkSeq")->isChecked());
    EXPECT_EQ(Check("chkSeq")->text(), "Seq Nos.");
    EXPECT_EQ(Button("cmdBrowse")->text(), "...");
    EXPECT_EQ(Button("cmdBrowse")->toolTip(), "Browse files");
    EXPECT_EQ(Button("cmdSend")->toolTip(), "Send file to handheld");
    EXPECT_EQ(Button("cmdAbout")->toolTip(), "About BHT Quenlo");
    EXPECT_EQ(Button("cmdExit")->toolTip(), "Exit BHT Quenlo");
    EXPECT_EQ(Find<QLabel>(&window, "lblIRDelay2")->text(), "(0-1000)");
}

TEST_F(WindowTest, EachPortEntryTellsTheDeviceItOpens) {
    qputenv("QUENLO_COM7", "/dev/ttyUSB0");
    MainWindow fresh(host, runner);
    auto* ports = Find<QComboBox>(&fresh, "cboPort");
    EXPECT_EQ(ports->itemData(6, Qt::ToolTipRole).toString(), "/dev/ttyUSB0");
    qunsetenv("QUENLO_COM7");
}

TEST_F(WindowTest, EmptyFileBoxIsRefused) {
    EXPECT_FALSE(Send("").has_value());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].title, "Missing Information");
    EXPECT_EQ(host.messages[0].text, "A program file has not been selected!");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::kExclamation);
}

TEST_F(WindowTest, OnlyTheLastThreeCharactersChooseTheKind) {
    EXPECT_FALSE(Send("C:\\BHT\\PROG.TXT").has_value());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].title, "Invalid Information");
    EXPECT_EQ(host.messages[0].text, "An invalid file has been selected!");
    // No dot, lower case, any of the five kinds: the window lets the engine judge the rest.
    for (const QString name : {"XPD3", "prog.pd3", "A.fn4", "B.CAB", "C.Fn3", "D.pD4"}) {
        EXPECT_TRUE(Send(name).has_value()) << name.toStdString();
    }
    EXPECT_FALSE(Send("X.EX3").has_value());
}

TEST_F(WindowTest, IrDelayMustBeANumberFrom0To1000) {
    for (const QString bad : {"", "abc", "-1", "1001", "1e9"}) {
        host.messages.clear();
        Edit("txtIRDelay")->setText(bad);
        EXPECT_FALSE(Send("P.PD3").has_value()) << bad.toStdString();
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].title, "I-R Delay invalid");
        EXPECT_EQ(host.messages[0].text, "The I-R Delay must be a number between 0 and 1000");
    }
    Edit("txtIRDelay")->setText("0");
    EXPECT_EQ(Send("P.PD3").value(), "P.PD3 +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN ");
    Edit("txtIRDelay")->setText("1000");
    EXPECT_EQ(Send("P.PD3").value(), "P.PD3 +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN +IRD1000 ");
}

TEST_F(WindowTest, OptionLineForTheDefaults) {
    EXPECT_EQ(Send("C:\\BHT\\PROG.PD3").value(),
              "C:\\BHT\\PROG.PD3 +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN ");
}

TEST_F(WindowTest, OptionLineFollowsEveryControl) {
    List("cboPort")->setCurrentIndex(19);
    List("cboSpeed")->setCurrentText("9600");
    List("cboParity")->setCurrentText("Even");
    List("cboData")->setCurrentText("7 bits");
    List("cboStop")->setCurrentText("2 bits");
    List("cboTime")->setCurrentText("max");
    Check("chkBCC")->setChecked(false);
    Check("chkSeq")->setChecked(false);
    Edit("txtIRDelay")->setText(" 25 ");
    EXPECT_EQ(Send("prog.pd3").value(), "PROG.PD3 +P19 +B9600 +PE +D7 +S2 +T0 -PB -SN +IRD25 ");
    const std::pair<int, std::string> timeouts[] = {{1, "+T60 "}, {2, "+T90 "}, {3, "+T120 "}};
    for (const auto& [index, option] : timeouts) {
        List("cboTime")->setCurrentIndex(index);
        EXPECT_NE(Send("P.PD3").value().find(option), std::string::npos) << option;
    }
}

TEST_F(WindowTest, BrowseAsksForAnExistingFileAndCancelKeepsTheBox) {
    QString seenTitle, seenDirectory;
    QStringList seenFilters;
    std::optional<QString> answer = "/home/ann/PROG.PD3";
    window.SetFileChooser(
        [&](QWidget*, const QString& title, const QString& directory, const QStringList& filters) {
            seenTitle = title;
            seenDirectory = directory;
            seenFilters = filters;
            return answer;
        });
    Edit("txtProg")->setText("/home/ann");
    Button("cmdBrowse")->click();
    EXPECT_EQ(seenTitle, "Select BHT Program File");
    EXPECT_EQ(seenDirectory, "/home/ann");
    ASSERT_EQ(seenFilters.size(), 3);
    EXPECT_TRUE(seenFilters[0].startsWith("BHT Program Files ("));
    EXPECT_TRUE(seenFilters[1].startsWith("BHT System Files ("));
    EXPECT_TRUE(seenFilters[2].startsWith("BHT-200 Cab Files ("));
    EXPECT_EQ(Edit("txtProg")->text(), "/home/ann/PROG.PD3");
    answer.reset();
    Button("cmdBrowse")->click();
    EXPECT_EQ(Edit("txtProg")->text(), "/home/ann/PROG.PD3");
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(WindowTest, SendIsDisabledWhileARunIsInProgress) {
    int runs = 0;
    runner = [&](const std::string&) {
        ++runs;
        EXPECT_TRUE(window.sendInProgress());
        EXPECT_FALSE(Button("cmdSend")->isEnabled());
        Button("cmdSend")->click();  // a second Send during the run starts nothing
    };
    Send("P.PD3");
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(window.sendInProgress());
    EXPECT_TRUE(Button("cmdSend")->isEnabled());
}

TEST_F(WindowTest, ExitAsksAndNoKeepsTheWindowOpen) {
    window.show();
    host.yesNoAnswer = false;
    Button("cmdExit")->click();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].title, "BHT Quenlo");
    EXPECT_EQ(host.messages[0].text, "Are you sure you wish to exit this application?");
    EXPECT_TRUE(window.isVisible());
    host.yesNoAnswer = true;
    EXPECT_TRUE(window.Quit());
}

TEST_F(WindowTest, RunTimeFailureInTheClickIsShownAsAnError) {
    runner = [](const std::string&) { throw RuntimeError(6); };
    Send("P.PD3");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].title, "Error");
    EXPECT_EQ(host.messages[0].text, "Error 6: Overflow");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::kCritical);
    EXPECT_FALSE(window.sendInProgress());
    EXPECT_TRUE(Button("cmdSend")->isEnabled());
}

TEST_F(WindowTest, AboutButtonShowsTheAboutBox) {
    Button("cmdAbout")->click();
    EXPECT_EQ(aboutShown, 1);
}

// The window runs the engine for real: the in-memory handheld takes the file.
class WindowSendTest : public WindowTest {
  protected:
    WindowSendTest() {
        runner = [this](const std::string& line) {
            RunState run(host, &line_, &transferWindow);
            run.commandLine = line;
            RunTransfer(run);
            resultCode = run.resultCode;
        };
        onYield = [this] {
            QCoreApplication::processEvents();
            auto* button = Find<QPushButton>(&transferWindow, "CommandButton");
            if (button->text() == "OK" && transferWindow.isVisible()) {
                shownStatus = Find<QLineEdit>(&transferWindow, "StatusBox")->text();
                shownMessage = Find<QLabel>(&transferWindow, "MsgLabel")->text();
                button->click();
            } else if (cancelAt >= 0 && host.ClockSeconds() >= cancelAt) {
                cancelAt = -1;
                wasVisibleDuringRun = transferWindow.isVisible();
                shownProgress = Find<QProgressBar>(&transferWindow, "ProgressBar1")->value();
                button->click();
            }
        };
    }
    testing::MemorySerialComm& line_ = line;
    QString shownStatus, shownMessage;
    int shownProgress = -1;
    bool wasVisibleDuringRun = false;
    double cancelAt = -1;
    ResultCode resultCode = -1;
};

TEST_F(WindowSendTest, WholeSendShowsTheResultAndClosesOnOk) {
    const std::string path = WriteLines("PROG.PD3", 12);
    Send(QString::fromStdString(path));
    EXPECT_EQ(resultCode, 0);
    EXPECT_EQ(shownStatus, "Program Sent OK");
    EXPECT_EQ(shownMessage, "Err(0) Transfer Complete");
    EXPECT_EQ(handheld.records.size(), 12u);
    EXPECT_FALSE(transferWindow.isVisible());
    EXPECT_EQ(Find<QLineEdit>(&transferWindow, "RecordsBox")->text(), " 00012");
    EXPECT_FALSE(Find<QPushButton>(&transferWindow, "AboutButton")->isEnabled());
}

TEST_F(WindowSendTest, ClosingTheTransferWindowActsAsItsButton) {
    const std::string path = WriteLines("PROG.PD3", 60);
    handheld.answerDelay = 1.0;
    bool closed = false;
    const double closeAt = host.ClockSeconds() + 10.0;
    const auto clickOk = onYield;
    onYield = [&, clickOk] {
        if (!closed && host.ClockSeconds() > closeAt) {
            closed = true;
            transferWindow.close();  // as the title bar's close button would
            wasVisibleDuringRun = transferWindow.isVisible();
        }
        clickOk();
    };
    Send(QString::fromStdString(path));
    EXPECT_TRUE(closed);
    EXPECT_TRUE(wasVisibleDuringRun);
    EXPECT_EQ(resultCode, 90);
    EXPECT_EQ(shownMessage, "Err(90) Aborted by Cancel.");
    EXPECT_FALSE(transferWindow.isVisible());
}

TEST_F(WindowSendTest, CancelDuringTheTransferIsAbortedByCancel) {
    const std::string path = WriteLines("PROG.PD3", 60);
    handheld.answerDelay = 1.0;
    cancelAt = host.ClockSeconds() + 20.0;
    Send(QString::fromStdString(path));
    EXPECT_TRUE(wasVisibleDuringRun);
    EXPECT_GT(shownProgress, 0);
    EXPECT_LT(shownProgress, 100);
    EXPECT_EQ(shownStatus, "Transfer Error");
    EXPECT_EQ(shownMessage, "Err(90) Aborted by Cancel.");
    EXPECT_EQ(resultCode, 90);
}

TEST_F(WindowTest, TransferWindowLoadsItsDesignTexts) {
    EXPECT_EQ(transferWindow.objectName(), "frmTarvos");
    EXPECT_EQ(transferWindow.windowTitle(), "Loading Program...");
    EXPECT_EQ(Find<QPushButton>(&transferWindow, "CommandButton")->text(), "&Cancel");
    EXPECT_EQ(Find<QPushButton>(&transferWindow, "AboutButton")->text(), "About");
    const std::pair<const char*, QString> labels[] = {{"Label2", "I/O Status"},
                                                      {"Label3", "File"},
                                                      {"Label4", "Record"},
                                                      {"Label5", "Of"},
                                                      {"Label6", "Complete"}};
    for (const auto& [name, text] : labels) {
        EXPECT_EQ(Find<QLabel>(&transferWindow, name)->text(), text) << name;
    }
    for (const char* name : {"StatusBox", "FileBox", "RecCntBox", "RecordsBox"}) {
        EXPECT_EQ(Find<QLineEdit>(&transferWindow, name)->text(), "") << name;
    }
}

TEST_F(WindowTest, AboutBoxTexts) {
    AboutBox about(nullptr, &host);
    EXPECT_EQ(about.windowTitle(), "About Quenlo");
    EXPECT_EQ(Find<QLabel>(&about, "lblTitle")->text(), "BHT Quenlo");
    EXPECT_EQ(Find<QLabel>(&about, "lblVersion")->text(), "Version 1.3.0 - 30th January 2006");
    EXPECT_EQ(Find<QLabel>(&about, "lblDescription")->text(),
              "The BHT Quenlo from Marrowdeck is the easy way to load your DENSO BHT with a new "
              "program.");
    EXPECT_EQ(Find<QLabel>(&about, "Label2")->text(), "Visit us at:");
    EXPECT_TRUE(Find<QLabel>(&about, "lblLink")->text().contains(AboutBox::kWebAddress));
    EXPECT_EQ(Find<QPushButton>(&about, "cmdOK")->text(), "OK");
    EXPECT_EQ(Find<QPushButton>(&about, "cmdSysInfo")->text(), "&System Info...");
    Find<QPushButton>(&about, "cmdSysInfo")->click();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "System Information Is Unavailable At This Time");
    EXPECT_EQ(host.messages[0].title, "Quenlo");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::kNone);
    EXPECT_TRUE(about.isModal());
}

}  // namespace
}  // namespace quenlo

// The application must outlive every window and go before Qt's own statics do.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
