#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/port_names.h"
#include "ui/option_line.h"

namespace quenlo {

class Host;
class TransferWindow;

// frmMain: gathers the file and the link settings, checks them, builds the option line and
// starts one transfer run.
class MainWindow : public QWidget {
  public:
    // Runs one transfer for an option line (upper case, and as typed); returns when the run is
    // over.
    using Runner = std::function<void(const std::string& commandLine, const std::string& asGiven)>;
    // Asks for a file to send: parent, title, initial directory, filters; nothing on cancel.
    using FileChooser =
        std::function<std::optional<QString>(QWidget* parent, const QString& title,
                                             const QString& directory, const QStringList& filters)>;
    // Shows the About box modally.
    using AboutShower = std::function<void(QWidget* parent)>;
    // The serial ports present now.
    using PortLister = std::function<std::vector<SerialPortFacts>()>;

    // The entry data role of the COM list that holds what the entry opens, shown beside it.
    static constexpr int kPortDetailRole = Qt::UserRole + 1;

    MainWindow(Host& host, Runner runner, TransferWindow* transferWindow = nullptr,
               QWidget* parent = nullptr);

    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    void SetAboutShower(AboutShower shower) { showAbout_ = std::move(shower); }
    // Where the COM list learns the ports present (PresentPorts unless told); asked now and each
    // time the list opens, so an adapter plugged in meanwhile shows.
    void SetPortLister(PortLister lister);

    // The exit question: true exactly when the operator answers Yes.
    bool Quit();
    MainWindowChoices Choices() const;

    // The filters of the file dialog, in the order shown.
    static QStringList FileFilters();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // The constructor's steps, in order.
    void CreateControls();
    void LayOutControls();
    void OrderTabs();
    void Load();
    void ConnectControls();
    // The six lists of the settings frame, top to bottom.
    std::array<QComboBox*, 6> Lists() const;

    void OnBrowse();
    void OnSend();
    void OnExit();
    void EndProgram();
    void ShowClickFailure(const std::exception& failure);
    // Each COM entry's device, and the port's description when it is present, beside the entry
    // and in its tool tip.
    void ShowPorts();
    void ShowPortDevice(int index);

    Host& host_;
    Runner runner_;
    TransferWindow* transferWindow_;
    FileChooser chooseFile_;
    AboutShower showAbout_;
    PortLister listPorts_ = PresentPorts;
    std::vector<std::string> portDevices_;  // what COM n opens, entry n-1
    bool sendInProgress_ = false;
    bool exitAfterRun_ = false;  // Exit answered Yes while a run was on

    QLineEdit* txtProg_ = nullptr;
    QPushButton* cmdBrowse_ = nullptr;
    QComboBox* cboPort_ = nullptr;
    QComboBox* cboSpeed_ = nullptr;
    QComboBox* cboParity_ = nullptr;
    QComboBox* cboData_ = nullptr;
    QComboBox* cboStop_ = nullptr;
    QComboBox* cboTime_ = nullptr;
    QCheckBox* chkBCC_ = nullptr;
    QCheckBox* chkSeq_ = nullptr;
    QLineEdit* txtIRDelay_ = nullptr;
    QPushButton* cmdSend_ = nullptr;
    QPushButton* cmdAbout_ = nullptr;
    QPushButton* cmdExit_ = nullptr;
    QLabel* portDevice_ = nullptr;
};

}  // namespace quenlo
