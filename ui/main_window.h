#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/port_names.h"
#include "ui/option_line.h"

namespace quenlo {

class Host;

// frmMain: gathers the file and the link settings, checks them, builds the option line and
// starts one transfer run.
class MainWindow : public QWidget {
  public:
    // Runs one transfer for an option line; returns when the run is over.
    using Runner = std::function<void(const std::string& commandLine)>;
    // Asks for a file to send: parent, title, initial directory, filters; nothing on cancel.
    using FileChooser =
        std::function<std::optional<QString>(QWidget* parent, const QString& title,
                                             const QString& directory, const QStringList& filters)>;
    // Shows the About box modally.
    using AboutShower = std::function<void(QWidget* parent)>;

    MainWindow(Host& host, Runner runner, QWidget* transferWindow = nullptr,
               QWidget* parent = nullptr);

    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    void SetAboutShower(AboutShower shower) { showAbout_ = std::move(shower); }

    // The exit question: true exactly when the operator answers Yes.
    bool Quit();
    bool sendInProgress() const { return sendInProgress_; }
    MainWindowChoices Choices() const;
    // The COM entries' tool tips for the ports present (done on creation).
    void ShowPorts(const std::vector<PortRow>& present);

    // The filters of the file dialog, in the order shown.
    static QStringList FileFilters();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void OnBrowse();
    void OnSend();
    void OnExit();
    void ShowClickFailure(const std::exception& failure);

    Host& host_;
    Runner runner_;
    QWidget* transferWindow_;
    FileChooser chooseFile_;
    AboutShower showAbout_;
    bool sendInProgress_ = false;

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
};

}  // namespace quenlo
