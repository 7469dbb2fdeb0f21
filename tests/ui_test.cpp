// The desktop windows on Qt's offscreen platform, driven by their controls' object names.
#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "base/runtime_error.h"
#include "run/run_transfer.h"
#include "support/engine_fixture.h"
#include "ui/about_box.h"
#include "ui/main_window.h"
#include "ui/transfer_window.h"

namespace quenlo {
namespace {

template <typename T = QWidget>
T* Find(QWidget* root, const char* name) {
    T* widget = root->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

// What a control shows: a list its current entry, anything else its text.
QString Shown(QWidget* root, const char* name) {
    QWidget* widget = Find(root, name);
    if (widget == nullptr) {
        return "(missing)";
    }
    const QVariant current = widget->property("currentText");
    return (current.isValid() ? current : widget->property("text")).toString();
}

class WindowTest : public testing::EngineFixture {
  protected:
    WindowTest() {
        window.SetAboutShower([this](QWidget*) { ++aboutShown; });
    }

    QLineEdit* Edit(const char* name) { return Find<QLineEdit>(&window, name); }
    QComboBox* List(const char* name) { return Find<QComboBox>(&window, name); }
    QPushButton* Button(const char* name) { return Find<QPushButton>(&window, name); }

    // Types the program path and presses Send: the option line handed over, else the title of
    // the one message shown.
    std::string Send(const QString& program) {
        lines.clear();
        host.messages.clear();
        Edit("txtProg")->setText(program);
        Button("cmdSend")->click();
        if (!lines.empty()) {
            EXPECT_TRUE(host.messages.empty());
            return lines.back();
        }
        EXPECT_EQ(host.messages.size(), 1u);
        return host.messages.empty() ? "" : host.messages[0].title;
    }

    std::vector<std::string> lines;
    int aboutShown = 0;
    TransferWindow transferWindow;
    MainWindow::Runner runner = [this](const std::string& line) { lines.push_back(line); };
    MainWindow window{host, [this](const std::string& line) { runner(line); }, &transferWindow};
};

TEST_F(WindowTest, WindowsLoadWithTheirNamesTextsAndDefaults) {
    AboutBox about(nullptr, &host);
    QString names;
    for (const QWidget* root : std::initializer_list<QWidget*>{&window, &transferWindow, &about}) {
        names += root->objectName() + "=" + root->windowTitle() + "|";
    }
    EXPECT_EQ(names, "frmMain=BHT Quenlo|frmTarvos=Loading Program...|frmAbout=About Quenlo|");
    // Each window's controls as "name" or "name=what it shows at first".
    const std::pair<QWidget*, QString> rows[] = {
        {&window,
         "txtProg=|txtIRDelay=0|cboPort=COM 1|cboSpeed=115200|cboParity=None|cboData=8 bits|"
         "cboStop=1 bit|cboTime=30 secs|chkBCC|chkSeq|cmdBrowse|cmdSend|cmdAbout|cmdExit"},
        {&transferWindow, "CommandButton=&Cancel|AboutButton|StatusBox=|RecordsBox=|MsgLabel="},
        {&about, "lblTitle|lblVersion|cmdOK|cmdSysInfo"}};
    for (const auto& [root, controls] : rows) {
        for (const QString& control : controls.split('|')) {
            const QString shown = Shown(root, control.section('=', 0, 0).toLatin1().constData());
            EXPECT_TRUE(!control.contains('=') || shown == control.section('=', 1))
                << control.toStdString() << " shows " << shown.toStdString();
        }
    }
    for (const char* name : {"cboPort", "cboSpeed", "cboParity", "cboData", "cboStop", "cboTime"}) {
        EXPECT_FALSE(List(name)->isEditable()) << name;
    }
    EXPECT_EQ(List("cboPort")->itemText(19) + List("cboTime")->itemText(4), "COM 20max");
    EXPECT_EQ(List("cboPort")->count() + List("cboSpeed")->count(), 20 + 9);
    EXPECT_TRUE(Find<QCheckBox>(&window, "chkBCC")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(&window, "chkSeq")->isChecked());
    EXPECT_EQ(Edit("txtIRDelay")->maxLength(), 4);
    EXPECT_TRUE(about.isModal());
    Find<QPushButton>(&about, "cmdSysInfo")->click();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "System Information Is Unavailable At This Time");
}

// Each COM entry tells the device it opens; a long one beside the list is shortened rather than
// widening the window, and shown whole in its tool tip.
TEST_F(WindowTest, PortEntriesTellTheirDevice) {
    qputenv("QUENLO_COM7", "/dev/ttyUSB0");
    const QString path = "/dev/serial/by-id/" + QString(300, 'x');
    qputenv("QUENLO_COM1", path.toUtf8());
    MainWindow wide(host, runner);
    qputenv("QUENLO_COM1", (path + path).toUtf8());
    MainWindow wider(host, runner);
    qunsetenv("QUENLO_COM1");
    qunsetenv("QUENLO_COM7");
    EXPECT_EQ(Find<QComboBox>(&wide, "cboPort")->itemData(6, Qt::ToolTipRole).toString(),
              "/dev/ttyUSB0");
    EXPECT_EQ(Find(&wide, "lblPortDevice")->toolTip(), path);
    EXPECT_LT(Shown(&wide, "lblPortDevice").size(), 60);
    EXPECT_EQ(wide.sizeHint().width(), wider.sizeHint().width());
}

TEST_F(WindowTest, SendChecksTheChoicesAndHandsOverTheOptionLine) {
    const std::tuple<QString, QString, std::string> rows[] = {
        {"", "0", "Missing Information"},
        {"C:\\BHT\\PROG.TXT", "0", "Invalid Information"},
        {"X.EX3", "0", "Invalid Information"},
        {"C:\\BHT\\PROG.PD3", "0", "C:\\BHT\\PROG.PD3 +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN "},
        // No dot, lower case, any of the five kinds: the engine judges the rest of the name.
        {"XPD3", "1000", "XPD3 +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN +IRD1000 "},
        {"a.fn4", " 25 ", "A.FN4 +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN +IRD25 "},
        {"B.CAB", "2.5", "B.CAB +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN +IRD2.5 "},
        {"C.Fn3", "0", "C.FN3 +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN "},
        {"D.pD4", "0", "D.PD4 +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN "}};
    for (const auto& [program, delay, result] : rows) {
        Edit("txtIRDelay")->setText(delay);
        EXPECT_EQ(Send(program), result) << program.toStdString();
    }
    // Only what the engine reads as the same number: "1e3" would reach it as 1.
    for (const QString bad : {"", "abc", "-1", "1001", "1e3", "1 0", "0x10"}) {
        Edit("txtIRDelay")->setText(bad);
        EXPECT_EQ(Send("P.PD3"), "I-R Delay invalid") << bad.toStdString();
    }
}

TEST_F(WindowTest, OptionLineFollowsEveryControl) {
    List("cboPort")->setCurrentIndex(19);
    List("cboSpeed")->setCurrentText("9600");
    List("cboParity")->setCurrentText("Even");
    List("cboData")->setCurrentText("7 bits");
    List("cboStop")->setCurrentText("2 bits");
    Find<QCheckBox>(&window, "chkBCC")->setChecked(false);
    Find<QCheckBox>(&window, "chkSeq")->setChecked(false);
    const char* const timeouts[] = {"+T30", "+T60", "+T90", "+T120", "+T0"};
    for (int index = 0; index < 5; ++index) {
        List("cboTime")->setCurrentIndex(index);
        EXPECT_EQ(Send("p.pd3"),
                  std::string("P.PD3 +P19 +B9600 +PE +D7 +S2 ") + timeouts[index] + " -PB -SN ");
    }
}

TEST_F(WindowTest, BrowseAboutExitAndAFailingRun) {
    std::vector<QString> seen;
    std::optional<QString> answer = "/home/ann/PROG.PD3";
    window.SetFileChooser(
        [&](QWidget*, const QString& title, const QString& directory, const QStringList& filters) {
            seen = {title, directory, filters.join("|")};
            return answer;
        });
    Edit("txtProg")->setText("/home/ann");
    Button("cmdBrowse")->click();
    EXPECT_EQ(seen, std::vector<QString>({"Select BHT Program File", "/home/ann",
                                          MainWindow::FileFilters().join("|")}));
    EXPECT_EQ(Edit("txtProg")->text(), "/home/ann/PROG.PD3");
    answer.reset();  // cancelled: the box keeps its path
    Button("cmdBrowse")->click();
    EXPECT_EQ(Edit("txtProg")->text(), "/home/ann/PROG.PD3");

    Button("cmdAbout")->click();
    EXPECT_EQ(aboutShown, 1);

    // Send is off while a run is on, and a run-time failure in the click is shown as an error.
    int runs = 0;
    runner = [&](const std::string&) {
        ++runs;
        EXPECT_FALSE(Button("cmdSend")->isEnabled());
        Button("cmdSend")->click();  // starts nothing
        throw RuntimeError(6);
    };
    EXPECT_EQ(Send("P.PD3"), "Error");
    EXPECT_EQ(host.messages.at(0).text, "Error 6: Overflow");
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(Button("cmdSend")->isEnabled());

    window.show();
    Button("cmdExit")->click();  // answered No
    EXPECT_EQ(host.messages.back().text, "Are you sure you wish to exit this application?");
    EXPECT_TRUE(window.isVisible());
    host.yesNoAnswer = true;
    EXPECT_TRUE(window.Quit());
}

// The window runs the engine for real: the in-memory handheld takes the file, over a line slow
// enough for the operator to step in.
class WindowSendTest : public WindowTest {
  protected:
    WindowSendTest() {
        Handheld({}, {}, {}, 1200);
        runner = [this](const std::string& commandLine) {
            lines.push_back(commandLine);
            RunState run(host, &line, &transferWindow);
            run.commandLine = commandLine;
            RunTransfer(run);
            resultCode = run.resultCode;
        };
        onYield = [this] {
            QCoreApplication::processEvents();
            auto* button = Find<QPushButton>(&transferWindow, "CommandButton");
            if (button->text() == "OK") {
                shownVisible = transferWindow.isVisible();
                shownMessage = Shown(&transferWindow, "MsgLabel");
                shownStatus = Shown(&transferWindow, "StatusBox");
                button->click();
            } else if (stepInAt >= 0 && host.ClockSeconds() >= stepInAt) {
                stepInAt = -1;
                progress = Find<QProgressBar>(&transferWindow, "ProgressBar1")->value();
                stepIn();
            }
        };
    }
    QString shownStatus, shownMessage;
    bool shownVisible = false;
    int progress = -1;
    double stepInAt = -1;
    std::function<void()> stepIn;
    ResultCode resultCode = -1;
};

TEST_F(WindowSendTest, WholeSendShowsTheResultAndClosesOnOk) {
    Send(QString::fromStdString(WriteLines("PROG.PD3", 12)));
    EXPECT_EQ(resultCode, 0);
    EXPECT_TRUE(shownVisible);
    EXPECT_EQ(shownStatus, "Program Sent OK");
    EXPECT_EQ(shownMessage, "Err(0) Transfer Complete");
    EXPECT_EQ(receiver->recordsReceived(), 12);
    EXPECT_EQ(Shown(&transferWindow, "RecordsBox"), " 00012");
    EXPECT_FALSE(Find(&transferWindow, "AboutButton")->isEnabled());
    EXPECT_FALSE(transferWindow.isVisible());
}

// Cancel, or the title bar's close button, stops the run partway.
TEST_F(WindowSendTest, CancelOrClosingTheWindowAbortsTheTransfer) {
    const std::function<void()> ways[] = {[this] { transferWindow.commandButton()->click(); },
                                          [this] { transferWindow.close(); }};
    for (const auto& way : ways) {
        progress = -1;
        shownMessage.clear();
        stepIn = [&] {
            EXPECT_TRUE(transferWindow.isVisible());
            way();
        };
        stepInAt = host.ClockSeconds() + 20.0;
        Send(QString::fromStdString(WriteLines("PROG.PD3", 60)));
        EXPECT_GT(progress, 0);
        EXPECT_LT(progress, 100);
        EXPECT_EQ(shownStatus, "Transfer Error");
        EXPECT_EQ(shownMessage, "Err(90) Aborted by Cancel.");
        EXPECT_EQ(resultCode, 90);
        EXPECT_FALSE(transferWindow.isVisible());
        Handheld({}, {}, {}, 1200);
    }
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
