// Renders the windows to PNG files for the README: main window, its COM list opened with a USB
// adapter found, transfer window in the middle of a send and after a failure with its reason, About
// box. Run it under Xvfb (make screenshots).
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "base/transfer_view.h"
#include "platform/port_names.h"
#include "ui/about_box.h"
#include "ui/desktop_host.h"
#include "ui/main_window.h"
#include "ui/transfer_window.h"

namespace {

struct NoEvents : quenlo::TransferWindowEvents {
    void CommandButtonClicked() override {}
    void TimerTicked() override {}
};

void Settle() {
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
    }
}

bool Report(bool saved, const QString& path) {
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", path.toLocal8Bit().constData());
    return saved;
}

bool Save(QWidget& widget, const QString& path) {
    widget.show();
    Settle();
    return Report(widget.grab().save(path), path);
}

// An opened list is a window of its own: take the screen where the window and the list are.
bool SaveWithList(QWidget& widget, QComboBox& list, const QString& path) {
    widget.show();
    Settle();
    list.showPopup();
    Settle();
    const QRect area = widget.frameGeometry().united(list.view()->window()->frameGeometry());
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(),
                                                                      area.width(), area.height());
    list.hidePopup();
    return Report(shot.save(path), path);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? argv[1] : "docs";
    quenlo::DesktopHost host;
    // A machine with one built-in port and a USB adapter: the adapter takes the first free number.
    const std::vector<quenlo::SerialPortFacts> present = {
        {"/dev/ttyS0"},
        {"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A10KXYZ1", 0x0403, 0x6001,
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KXYZ1-if00-port0"}};

    quenlo::TransferWindow transfer;
    quenlo::MainWindow main(
        host, [](const std::string&, const std::string&) {}, &transfer);
    main.SetPortLister([&present] { return present; });
    main.findChild<QLineEdit*>("txtProg")->setText("/home/ann/bht/DEMO.PD3");
    bool ok = Save(main, dir + "/frmMain.png");
    ok =
        SaveWithList(main, *main.findChild<QComboBox*>("cboPort"), dir + "/frmMainPorts.png") && ok;
    main.hide();

    NoEvents events;
    transfer.Show(events);
    transfer.SetStatus("Sending Program ");
    transfer.SetFile("DEMO.PD3");
    transfer.SetRecordCount(" 00161");
    transfer.SetRecords(" 00400");
    transfer.SetProgress(40);
    transfer.SetComplete(" 40%");
    transfer.SetAboutEnabled(false);
    ok = Save(transfer, dir + "/frmTarvos.png") && ok;

    transfer.Show(events);
    transfer.SetStatus("Transfer Error");
    transfer.SetMessage("Err(101) Communications Port COM2 not available.");
    transfer.SetButtonCaption("OK");
    transfer.SetReason(
        "COM2 is /dev/ttyUSB0: permission denied (add yourself to the dialout "
        "group: sudo usermod -aG dialout $USER, then log in again); " +
        quenlo::PortsHereHint(quenlo::ListPorts(present)));
    ok = Save(transfer, dir + "/frmTarvosError.png") && ok;
    transfer.Unload();

    quenlo::AboutBox about(nullptr, &host);
    ok = Save(about, dir + "/frmAbout.png") && ok;
    return ok ? 0 : 1;
}
