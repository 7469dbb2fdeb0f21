// The desktop windows on Qt's offscreen platform, driven by their controls' object names.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <QApplication>

#include <algorithm>
#include <optional>
#include <ostream>

#include "base/runtime_error.h"
#include "run/run_transfer.h"
#include "support/engine_fixture.h"
#include "ui/about_box.h"
#include "ui/main_window.h"
#include "ui/transfer_window.h"

// Qt's strings as text in GoogleTest's messages, not as bytes.
void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace quenlo {

// A control by name ("" the window itself), or null.
QWidget* Find(QWidget* root, const QString& name) {
    return name.isEmpty() ? root : root->findChild<QWidget*>(name);
}

// A control that must be there: a missing one fails the test with its name.
QWidget* Control(QWidget* root, const QString& name) {
    QWidget* widget = Find(root, name);
    if (widget == nullptr) {
        ADD_FAILURE() << "no control " << name.toStdString() << " in "
                      << root->objectName().toStdString();
    }
    return widget;
}

// What a control shows: "name.property", else its entry or text; nothing when it is missing.
std::optional<QString> Read(QWidget* root, const QString& control) {
    const QString property = control.section('.', 1);
    QWidget* widget = Find(root, control.section('.', 0, 0));
    if (widget == nullptr) {
        return std::nullopt;
    }
    const QVariant value =
        widget->property(property.isEmpty() ? "currentText" : property.toLatin1());
    return (value.isValid() || !property.isEmpty() ? value : widget->property("text")).toString();
}

// What the controls split by "|" show, joined the same way.
std::string Shown(QWidget* root, const QString& controls) {
    QStringList all;
    for (const QString& control : controls.split('|')) {
        all += Control(root, control.section('.', 0, 0)) ? *Read(root, control) : "(missing)";
    }
    return all.join('|').toStdString();
}

// A window whose controls (split by "|") show the texts (split the same way); a failure names
// each control that differs: "cboPort.count was "19", expected "20"".
class ShowsMatcher {
  public:
    using is_gtest_matcher = void;
    ShowsMatcher(QString controls, QString texts)
        : controls_(controls.split('|')), texts_(texts.split('|')) {}

    bool MatchAndExplain(QWidget* root, std::ostream* why) const {
        bool same = controls_.size() == texts_.size();
        if (!same && why != nullptr) {
            *why << controls_.size() << " controls for " << texts_.size() << " texts";
        }
        for (qsizetype i = 0; i < std::min(controls_.size(), texts_.size()); ++i) {
            const std::optional<QString> shown = Read(root, controls_[i]);
            if (shown == texts_[i]) {
                continue;
            }
            if (why != nullptr) {
                *why << (same ? "" : ", ") << controls_[i].toStdString()
                     << (shown ? " was \"" + shown->toStdString() + '"' : " is missing")
                     << ", expected \"" << texts_[i].toStdString() << '"';
            }
            same = false;
        }
        return same;
    }
    void DescribeTo(std::ostream* os) const { *os << "shows " << Pairs(); }
    void DescribeNegationTo(std::ostream* os) const { *os << "does not show " << Pairs(); }

  private:
    std::string Pairs() const {
        QStringList pairs;
        for (qsizetype i = 0; i < std::min(controls_.size(), texts_.size()); ++i) {
            pairs += controls_[i] + "=\"" + texts_[i] + '"';
        }
        return pairs.join(", ").toStdString();
    }

    QStringList controls_, texts_;
};

ShowsMatcher Shows(const QString& controls, const QString& texts) {
    return ShowsMatcher(controls, texts);
}

// Acts on controls in turn: "name.property=value" sets, "name.slot" calls (a button's click).
void Do(QWidget* root, const QString& actions) {
    for (const QString& action : actions.split('|')) {
        QWidget* widget = Control(root, action.section('.', 0, 0));
        const QByteArray member = action.section('=', 0, 0).section('.', 1).toLatin1();
        if (widget != nullptr) {
            EXPECT_TRUE(action.contains('=') ? widget->setProperty(member, action.section('=', 1))
                                             : QMetaObject::invokeMethod(widget, member))
                << action.toStdString();
        }
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

    std::vector<std::string> lines, typedLines;
    TransferWindow transferWindow;
    MainWindow::Runner runner = [this](const std::string& handedOver, const std::string& typed) {
        lines.push_back(handedOver);
        typedLines.push_back(typed);
    };
    MainWindow window{host,
                      [this](const std::string& handedOver, const std::string& typed) {
                          runner(handedOver, typed);
                      },
                      &transferWindow};
};

TEST_F(WindowTest, WindowsLoadAndSendChecksTheChoicesAndHandsOverTheOptionLineAndButtonsWork) {
    AboutBox about(nullptr, &host);  // the defaults show in the option line, checked below
    EXPECT_THAT(&window, Shows(".objectName|.windowTitle|txtProg|txtIRDelay|txtIRDelay.maxLength",
                               "frmMain|BHT Quenlo||0|4"));
    EXPECT_THAT(&window, Shows("cboPort|cboPort.count|cboPort.editable|cboSpeed.count|cboTime",
                               "COM 1|20|false|9|30 secs"));
    EXPECT_THAT(&transferWindow, Shows(".objectName|.windowTitle|CommandButton|AboutButton",
                                       "frmTarvos|Loading Program...|&Cancel|About"));
    EXPECT_THAT(&about, Shows(".objectName|.windowTitle|.modal|lblTitle|cmdOK|cmdSysInfo",
                              "frmAbout|About Quenlo|true|BHT Quenlo|OK|&System Info..."));
    EXPECT_TRUE(Shown(&about, "lblVersion").starts_with("Version "));
    // The ports present and a device named by QUENLO_COM7 show beside their COM entries: a USB
    // adapter on the first free number (/dev/ttyS0 is no port here), asked again when the list
    // opens; the other entries name their device in the tool tip. A long device is cut short.
    const QString path = "/dev/serial/by-id/" + QString(300, 'x');
    qputenv("QUENLO_COM7", path.toUtf8());
    MainWindow wide(host, runner);
    std::vector<SerialPortFacts> present = {{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyS1"}};
    wide.SetPortLister([&] { return present; });
    auto* ports = wide.findChild<QComboBox*>("cboPort");
    const auto beside = [ports] {
        QStringList shown;
        for (int entry = 0; entry < 7; ++entry) {
            shown += ports->itemData(entry, MainWindow::kPortDetailRole).toString();
        }
        return shown.join('|').replace(QString(300, 'x'), "X").toStdString();
    };
    EXPECT_EQ(beside(), "/dev/ttyUSB0 (FT232R USB UART)|/dev/ttyS1|||||/dev/serial/by-id/X");
    present.push_back({"/dev/ttyACM0", "Cradle"});
    ports->showPopup(), ports->hidePopup();
    qunsetenv("QUENLO_COM7");
    EXPECT_EQ(beside(),
              "/dev/ttyACM0 (Cradle)|/dev/ttyS1|/dev/ttyUSB0 (FT232R USB UART)||||/dev/"
              "serial/by-id/X");
    EXPECT_EQ(ports->itemData(3, Qt::ToolTipRole).toString(), "/dev/ttyS3");
    Do(&wide, "cboPort.currentIndex=6");
    EXPECT_THAT(&wide, Shows("lblPortDevice.toolTip", path));
    EXPECT_LT(Shown(&wide, "lblPortDevice").size(), 60u);
    // "program|I-R delay|line handed over, or message" ("*" the defaults, "!" a refused delay): any
    // name of the five kinds goes, in any case; a delay only as the engine reads it ("1e3" is 1).
    for (const QString row :
         {"|0|Missing Information", "X.EX3|0|Invalid Information", "C.Fn3||!", "D.pD4|-1|!",
          "PD3|1001|!", "PD3|1e3|!", "PD3|1 0|!", "PD3|0x10|!", "XPD3|1000|XPD3*+IRD1000 ",
          "a.fn4| 25 |A.FN4*+IRD25 ", "B.CAB|2.5|B.CAB*+IRD2.5 ", "C:\\B\\P.PD3|0|C:\\B\\P.PD3*"}) {
        Do(&window, "txtIRDelay.text=" + row.section('|', 1, 1));
        QString expected = row.section('|', 2).replace("!", "I-R Delay invalid");
        expected.replace("*", " +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN ");
        EXPECT_EQ(Send(row.section('|', 0, 0)), expected.toStdString()) << row.toStdString();
    }
    // A path with a space is one token, quoted; the line as typed goes beside the upper-case one.
    Do(&window, "txtIRDelay.text=0");
    EXPECT_EQ(Send("/srv/My Files/Donn\u00e9es/p.pd3"),
              "\"/SRV/MY FILES/DONN\xC9"
              "ES/P.PD3\" +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN ");
    EXPECT_EQ(typedLines.back(),
              "\"/srv/My Files/Donn\xC3\xA9"
              "es/p.pd3\" +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN ");
    Do(&window,
       "cboPort.currentIndex=19|cboSpeed.currentText=9600|cboParity.currentText=Even|"
       "cboData.currentText=7 bits|cboStop.currentText=2 bits|chkBCC.checked=false|"
       "chkSeq.checked=false");
    for (int index = 0; const std::string timeout : {"+T30", "+T60", "+T90", "+T120", "+T0"}) {
        Do(&window, "cboTime.currentIndex=" + QString::number(index++));
        EXPECT_EQ(Send("p.pd3"), "P.PD3 +P19 +B9600 +PE +D7 +S2 " + timeout + " -PB -SN ");
    }
    // Browse, About; Send off while a run is on, a failing run shown as an error; Exit asks.
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
    EXPECT_THAT(&window, Shows("txtProg", "/home/ann/PROG.PD3"));
    runner = [&](const std::string&, const std::string&) {
        EXPECT_THAT(&window, Shows("cmdSend.enabled", "false"));
        Do(&window, "cmdSend.click");  // starts nothing (else it would never end)
        throw RuntimeError(6);
    };
    EXPECT_EQ(Send("P.PD3"), "Error");
    EXPECT_EQ(host.messages.at(0).text, "Error 6: Overflow");
    window.show();
    Do(&window, "cmdExit.click");  // answered No
    EXPECT_EQ(host.messages.back().text, "Are you sure you wish to exit this application?");
    EXPECT_THAT(&window, Shows(".visible|cmdSend.enabled", "true|true"));
    host.yesNoAnswer = true;
    EXPECT_TRUE(window.Quit());
}

// A real run on a slow line, stepped into partway by Cancel (0), the close button (1), Exit
// answered Yes (2: the run ends without waiting for OK, then the program), or not (-1). A failure
// shows its reason under the result.
TEST_F(WindowTest, ARealSendShowsItsResultAndCancelCloseOrExitAbortIt) {
    std::string shown;  // whether partway when stepping in, then what the window shows at the end
    int way = -1;
    bool exiting = false;
    double stepInAt = 0;
    runner = [&](const std::string& commandLine, const std::string& typed) {
        RunState run(host, &line, &transferWindow);
        run.commandLine = commandLine;
        run.commandLineAsGiven = typed;
        RunTransfer(run);
        lines.push_back(std::to_string(Number(run.resultCode)) + " " + shown);
    };
    onYield = [&] {
        QCoreApplication::processEvents();
        QPushButton* button = transferWindow.commandButton();
        if (button->text() == "OK") {
            if (std::exchange(exiting, false)) {
                return;  // Exit's own click ends the wait on this pass; else it shows below
            }
            shown += Shown(&transferWindow, ".visible|StatusBox|MsgLabel|lblReason.visible");
            button->click();
        } else if (way >= 0 && host.ClockSeconds() >= stepInAt) {
            const int progress = std::stoi(Shown(&transferWindow, "ProgressBar1.value"));
            shown = std::to_string(progress > 0 && progress < 100) + "|";
            exiting = way == 2;
            if (const int by = std::exchange(way, -1); by < 2) {
                by == 0 ? button->click() : void(transferWindow.close());
            } else {
                Do(&window, "cmdExit.click");
                host.messages.clear();  // the question, asked as the first test shows
            }
        }
    };
    window.show();
    host.yesNoAnswer = true;
    const std::string cancelled = "90 1|true|Transfer Error|Err(90) Aborted by Cancel.|true";
    for (const int stepping : {-1, 0, 1, 2}) {
        Handheld({}, {}, {}, 1200);
        shown.clear();
        way = stepping, stepInAt = host.ClockSeconds() + 20;
        EXPECT_THAT(
            Send(QString::fromStdString(WriteLines("PROG.PD3", 60))),
            testing::Tokens(stepping < 0 ? "0 true|Program Sent OK|Err(0) Transfer Complete|false"
                            : stepping == 2 ? cancelled.substr(0, cancelled.find("true|"))
                                            : cancelled,
                            "part", '|'));
        EXPECT_FALSE(transferWindow.isVisible());
        EXPECT_EQ(window.isVisible(), stepping < 2);
    }
    EXPECT_THAT(&transferWindow, Shows("RecordsBox|AboutButton.enabled", " 00060|false"));
    shown.clear();
    EXPECT_THAT(
        Send("/NOWHERE/GONE.PD3"),
        testing::Tokens("71 true|Transfer Error|Err(71) Path not found.|true", "part", '|'));
    EXPECT_THAT(&transferWindow,
                Shows("lblReason", "/NOWHERE/GONE.PD3: No such file or directory"));
}

}  // namespace quenlo

// The application must outlive every window and go before Qt's own statics do.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
