// Renders the three windows to PNG files for the README: main window, transfer window in the
// middle of a send, About box. Run it under Xvfb (make screenshots).
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>

#include "base/transfer_view.h"
#include "ui/about_box.h"
#include "ui/gui_host.h"
#include "ui/main_window.h"
#include "ui/transfer_window.h"

namespace {

struct NoEvents : quenlo::TransferWindowEvents {
    void CommandButtonClicked() override {}
    void TimerTicked() override {}
};

bool Save(QWidget& widget, const QString& path) {
    widget.show();
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
    }
    const bool saved = widget.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", path.toLocal8Bit().constData());
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? argv[1] : "docs";
    quenlo::GuiHost host;

    quenlo::TransferWindow transfer;
    quenlo::MainWindow main(
        host, [](const std::string&) {}, &transfer);
    main.findChild<QLineEdit*>("txtProg")->setText("/home/ann/bht/DEMO.PD3");
    bool ok = Save(main, dir + "/frmMain.png");

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

    quenlo::AboutBox about(nullptr, &host);
    ok = Save(about, dir + "/frmAbout.png") && ok;
    return ok ? 0 : 1;
}
