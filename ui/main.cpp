// quenlo: the desktop loader.
#include <QApplication>

#include "base/run_state.h"
#include "platform/qt_serial_comm.h"
#include "run/run_transfer.h"
#include "ui/desktop_host.h"
#include "ui/main_window.h"
#include "ui/transfer_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quenlo");
    quenlo::DesktopHost host;
    quenlo::QtSerialComm serial;
    quenlo::TransferWindow transferWindow;
    quenlo::MainWindow window(
        host,
        [&](const std::string& commandLine, const std::string& asGiven) {
            quenlo::RunState state(host, &serial, &transferWindow);
            state.commandLine = commandLine;
            state.commandLineAsGiven = asGiven;
            quenlo::RunTransfer(state);
        },
        &transferWindow);
    window.show();
    return QApplication::exec();
}
