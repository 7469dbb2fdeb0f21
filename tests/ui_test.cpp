// The desktop windows on Qt's offscreen platform, driven by their controls' object names.
#include <gtest/gtest.h>
#include <QApplication>
#include <QProgressBar>

#include "base/runtime_error.h"
#include "run/run_transfer.h"
#include "support/engine_fixture.h"
#include "ui/about_box.h"
#include "ui/main_window.h"
#include "ui/transfer_window.h"

namespace quenlo {

template <typename T = QWidget>
T* Find(QWidget* root, const QString& name) {
    T* widget = root->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name.toStdString();
    return widget;
}

// "name.property" ("" the window itself), or what the control shows: a list's entry, else its text.
QString Shown(QWidget* root, const QString& control) {
    const QString name = control.section('.', 0, 0), property = control.section('.', 1);
    QWidget* widget = name.isEmpty() ? root : Find(root, name);
    const QByteArray asked = property.isEmpty() ? "currentText" : property.toLatin1();
    const QVariant value = widget ? widget->property(asked) : QVariant("(missing)");
    return (value.isValid() || !property.isEmpty() ? value : widget->property("text")).toString();
}

// Checks controls given as "name", "name=what it shows" or "name.property=value", split by "|".
void Check(QWidget* root, const QString& controls) {
    for (const QString& control : controls.split('|')) {
        const QString shown = Shown(root, control.section('=', 0, 0));
        EXPECT_TRUE(!control.contains('=') || shown == control.section('=', 1))
            << control.toStdString() << " shows " << shown.toStdString();
    }
}

// Acts on controls in turn: "name.property=value" sets, "name.slot" calls (a button's click).
void Do(QWidget* root, const QString& actions) {
    for (const QString& action : actions.split('|')) {
        QWidget* widget = Find(root, action.section('.', 0, 0));
        const QByteArray member = action.section('=', 0, 0).section('.', 1).toLatin1();
        EXPECT_TRUE(action.contains('=') ? widget->setProperty(member, action.section('=', 1))
                                         : QMetaObject::invokeMethod(widget, member))
            << action.toStdString();
    }
}

class WindowTest : public testing::EngineFixture {
  protected:
    // Sends the program: the option line handed over, else the title of the one message shown.
    std::string Send(const QString& program) {
        lines.clear();
        host.messages.clear();
        Do(&window, "txtProg.text=" + program + "|cmdSend.click");
        EXPECT_EQ(lines.size() + host.messages.size(), 1u);
        return !lines.empty() ? lines.back() : host.messages.empty() ? "" : host.messages[0].title;
    }

    std::vector<std::string> lines;
    TransferWindow transferWindow;
    MainWindow::Runner runner = [this](const std::string& line) { lines.push_back(line); };
    MainWindow window{host, [this](const std::string& line) { runner(line); }, &transferWindow};
};

TEST_F(WindowTest, WindowsLoadWithTheirNamesTextsAndDefaults) {
    AboutBox about(nullptr, &host);
    // The defaults show in the option line (SendChecksTheChoices...).
    Check(
        &window,
        ".objectName=frmMain|.windowTitle=BHT Quenlo|txtProg=|txtIRDelay=0|txtIRDelay.maxLength=4|"
        "cboPort=COM 1|cboPort.count=20|cboPort.editable=false|cboSpeed.count=9|cboTime=30 secs");
    Check(&transferWindow,
          ".objectName=frmTarvos|.windowTitle=Loading Program...|CommandButton=&Cancel|AboutButton|"
          "StatusBox=|RecordsBox=|MsgLabel=");
    Check(&about,
          ".objectName=frmAbout|.windowTitle=About Quenlo|.modal=true|lblTitle|lblVersion|"
          "cmdOK|cmdSysInfo");
}

// Each COM entry tells its device and what the driver calls it; a long device beside the list is
// shortened, not widening the window, and shown whole in its tip.
TEST_F(WindowTest, PortEntriesTellTheirDevice) {
    qputenv("QUENLO_COM7", "/dev/ttyUSB0");
    const QString path = "/dev/serial/by-id/" + QString(300, 'x');
    qputenv("QUENLO_COM1", path.toUtf8());
    MainWindow wide(host, runner);
    wide.ShowPorts(ListPorts({{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyS1", ""}}));
    qunsetenv("QUENLO_COM1"), qunsetenv("QUENLO_COM7");
    const auto* ports = Find<QComboBox>(&wide, "cboPort");
    EXPECT_EQ(ports->itemData(6, Qt::ToolTipRole).toString() + "|" +
                  ports->itemData(1, Qt::ToolTipRole).toString(),
              "/dev/ttyUSB0 (FT232R USB UART)|/dev/ttyS1");
    Check(&wide, "lblPortDevice.toolTip=" + path);
    EXPECT_LT(Shown(&wide, "lblPortDevice").size(), 60);
}

// "program|I-R delay|the line handed over, or the message", "*" the defaults. Any name of the five
// kinds goes (the engine judges the rest); a delay only as the engine reads it ("1e3" would be 1).
TEST_F(WindowTest, SendChecksTheChoicesAndHandsOverTheOptionLine) {
    for (const QString row :
         {"|0|Missing Information", "C:\\BHT\\PROG.TXT|0|Invalid Information",
          "X.EX3|0|Invalid Information", "C:\\BHT\\PROG.PD3|0|C:\\BHT\\PROG.PD3*",
          "XPD3|1000|XPD3*+IRD1000 ", "a.fn4| 25 |A.FN4*+IRD25 ", "B.CAB|2.5|B.CAB*+IRD2.5 ",
          "C.Fn3|0|C.FN3*", "D.pD4|0|D.PD4*", "P.PD3||I-R Delay invalid",
          "P.PD3|abc|I-R Delay invalid", "P.PD3|-1|I-R Delay invalid",
          "P.PD3|1001|I-R Delay invalid", "P.PD3|1e3|I-R Delay invalid",
          "P.PD3|1 0|I-R Delay invalid", "P.PD3|0x10|I-R Delay invalid"}) {
        Do(&window, "txtIRDelay.text=" + row.section('|', 1, 1));
        QString expected = row.section('|', 2);
        expected.replace("*", " +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN ");
        EXPECT_EQ(Send(row.section('|', 0, 0)), expected.toStdString()) << row.toStdString();
    }
    // The line follows every control.
    Do(&window,
       "txtIRDelay.text=0|cboPort.currentIndex=19|cboSpeed.currentText=9600|"
       "cboParity.currentText=Even|cboData.currentText=7 bits|cboStop.currentText=2 bits|"
       "chkBCC.checked=false|chkSeq.checked=false");
    const char* const timeouts[] = {"+T30", "+T60", "+T90", "+T120", "+T0"};
    for (int index = 0; index < 5; ++index) {
        Do(&window, "cboTime.currentIndex=" + QString::number(index));
        EXPECT_EQ(Send("p.pd3"),
                  std::string("P.PD3 +P19 +B9600 +PE +D7 +S2 ") + timeouts[index] + " -PB -SN ");
    }
}

TEST_F(WindowTest, BrowseAboutExitAndAFailingRun) {
    QStringList seen;
    window.SetAboutShower([&](QWidget*) { seen += "About"; });
    std::optional<QString> answer = "/home/ann/PROG.PD3";
    window.SetFileChooser(
        [&](QWidget*, const QString& title, const QString& directory, const QStringList& filters) {
            seen += QStringList{title, directory} + filters;
            return std::exchange(answer, std::nullopt);  // then cancelled: the box keeps its path
        });
    Do(&window, "cmdAbout.click|txtProg.text=/home/ann|cmdBrowse.click");
    EXPECT_EQ(seen, QStringList({"About", "Select BHT Program File", "/home/ann"}) +
                        MainWindow::FileFilters());
    Do(&window, "cmdBrowse.click");
    Check(&window, "txtProg=/home/ann/PROG.PD3");
    // Send is off while a run is on, and a run-time failure in the click is shown as an error.
    int runs = 0;
    runner = [&](const std::string&) {
        runs += Shown(&window, "cmdSend.enabled") == "false" ? 1 : 100;
        Do(&window, "cmdSend.click");  // starts nothing
        throw RuntimeError(6);
    };
    EXPECT_EQ(Send("P.PD3"), "Error");
    EXPECT_EQ(host.messages.at(0).text, "Error 6: Overflow");
    EXPECT_EQ(runs, 1);
    window.show();
    Do(&window, "cmdExit.click");  // answered No
    EXPECT_EQ(host.messages.back().text, "Are you sure you wish to exit this application?");
    Check(&window, ".visible=true|cmdSend.enabled=true");
    host.yesNoAnswer = true;
    EXPECT_TRUE(window.Quit());
}

// The window runs the engine for real, over a line slow enough to step in partway: Cancel (0), the
// close button (1), or not at all (-1).
TEST_F(WindowTest, ARealSendShowsItsResultAndCancelOrCloseAbortIt) {
    QString shown;  // whether partway when stepping in, then what the window shows at the end
    int way = -1;
    double stepInAt = 0;
    runner = [&](const std::string& commandLine) {
        RunState run(host, &line, &transferWindow);
        run.commandLine = commandLine;
        RunTransfer(run);
        lines.push_back(std::to_string(run.resultCode) + " " + shown.toStdString());
    };
    onYield = [&] {
        QCoreApplication::processEvents();
        QPushButton* button = transferWindow.commandButton();
        if (button->text() == "OK") {
            shown += QString::number(transferWindow.isVisible()) + "|" +
                     Shown(&transferWindow, "StatusBox") + "|" + Shown(&transferWindow, "MsgLabel");
            button->click();
        } else if (way >= 0 && host.ClockSeconds() >= stepInAt) {
            const int progress = Find<QProgressBar>(&transferWindow, "ProgressBar1")->value();
            shown = QString::number(progress > 0 && progress < 100) + "|";
            std::exchange(way, -1) == 0 ? button->click() : void(transferWindow.close());
        }
    };
    for (const int stepping : {0, 1, -1}) {
        Handheld({}, {}, {}, 1200);
        stepInAt = host.ClockSeconds() + 20;
        way = stepping;
        shown.clear();
        EXPECT_EQ(Send(QString::fromStdString(WriteLines("PROG.PD3", 60))),
                  stepping < 0 ? "0 1|Program Sent OK|Err(0) Transfer Complete"
                               : "90 1|1|Transfer Error|Err(90) Aborted by Cancel.");
        EXPECT_FALSE(transferWindow.isVisible());
    }
    EXPECT_EQ(receiver->recordsReceived(), 60);
    Check(&transferWindow, "RecordsBox= 00060|AboutButton.enabled=false");
}

}  // namespace quenlo

// The application must outlive every window and go before Qt's own statics do.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
