#include "ui/main_window.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "base/host.h"
#include "base/runtime_error.h"
#include "platform/port_names.h"
#include "run/options.h"
#include "ui/about_box.h"
#include "ui/named_widget.h"
#include "ui/transfer_window.h"
#include "ui/ui_text.h"

namespace quenlo {

namespace {

constexpr int kPorts = 20;
// Room for the device beside the COM list, in average characters.
constexpr int kDeviceChars = 28;

// The COM list asks for the ports present each time it opens.
class PortList : public QComboBox {
  public:
    using QComboBox::QComboBox;
    std::function<void()> beforeOpening;
    void showPopup() override {
        if (beforeOpening) {
            beforeOpening();
        }
        QComboBox::showPopup();
    }
};

// The opened COM list shows what each entry opens beside it; the entry itself stays "COM n".
class PortEntryDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString detail = index.data(MainWindow::kPortDetailRole).toString();
        if (!detail.isEmpty()) {
            option->text += "    " + detail;
        }
    }
};

QComboBox* List(const char* name, const QStringList& entries, QWidget* parent) {
    auto* list = Named<QComboBox>(name, parent);
    list->addItems(entries);
    list->setEditable(false);
    return list;
}

QPushButton* Button(const char* name, const QString& text, const QString& tip, QWidget* parent) {
    auto* button = Named<QPushButton>(name, text, parent);
    button->setToolTip(tip);
    return button;
}

std::optional<QString> ChooseWithQtDialog(QWidget* parent, const QString& title,
                                          const QString& directory, const QStringList& filters) {
    QFileDialog dialog(parent, title, directory);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

}  // namespace

QStringList MainWindow::FileFilters() {
    // Both cases: on case-sensitive file systems the handheld files often carry upper-case names.
    return {"BHT Program Files (*.pd3 *.pd4 *.PD3 *.PD4)",
            "BHT System Files (*.fn3 *.fn4 *.FN3 *.FN4)", "BHT-200 Cab Files (*.cab *.CAB)"};
}

MainWindow::MainWindow(Host& host, Runner runner, TransferWindow* transferWindow, QWidget* parent)
    : QWidget(parent),
      host_(host),
      runner_(std::move(runner)),
      transferWindow_(transferWindow),
      chooseFile_(ChooseWithQtDialog),
      showAbout_([&host](QWidget* owner) {
          AboutBox box(owner, &host);
          box.exec();
      }) {
    setObjectName("frmMain");
    setWindowTitle("BHT Quenlo");
    setMinimumWidth(380);
    CreateControls();
    LayOutControls();
    OrderTabs();
    Load();
    ConnectControls();
}

std::array<QComboBox*, 6> MainWindow::Lists() const {
    return {cboPort_, cboSpeed_, cboParity_, cboData_, cboStop_, cboTime_};
}

void MainWindow::CreateControls() {
    txtProg_ = Named<QLineEdit>("txtProg", this);
    cmdBrowse_ = Button("cmdBrowse", "...", "Browse files", this);
    cmdBrowse_->setMaximumWidth(32);

    QStringList ports;
    for (int n = 1; n <= kPorts; ++n) {
        ports << QString("COM %1").arg(n);
    }
    auto* portList = Named<PortList>("cboPort", this);
    portList->addItems(ports);
    portList->setItemDelegate(new PortEntryDelegate(portList));
    portList->beforeOpening = [this] { ShowPorts(); };
    cboPort_ = portList;
    QStringList rates;
    for (const char* rate : kBaudRates) {
        rates << rate;
    }
    cboSpeed_ = List("cboSpeed", rates, this);
    cboParity_ = List("cboParity", {"None", "Even", "Odd"}, this);
    cboData_ = List("cboData", {"8 bits", "7 bits"}, this);
    cboStop_ = List("cboStop", {"1 bit", "2 bits"}, this);
    cboTime_ = List("cboTime", {"30 secs", "60 secs", "90 secs", "120 secs", "max"}, this);
    chkBCC_ = Named<QCheckBox>("chkBCC", "BCC Parity", this);
    chkBCC_->setChecked(true);
    chkSeq_ = Named<QCheckBox>("chkSeq", "Seq Nos.", this);
    chkSeq_->setChecked(true);
    txtIRDelay_ = Named<QLineEdit>("txtIRDelay", "0", this);
    txtIRDelay_->setMaxLength(4);
    txtIRDelay_->setMaximumWidth(60);
    cmdSend_ = Button("cmdSend", "Send", "Send file to handheld", this);
    cmdAbout_ = Button("cmdAbout", "About", "About BHT Quenlo", this);
    cmdExit_ = Button("cmdExit", "Exit", "Exit BHT Quenlo", this);
    portDevice_ = Named<QLabel>("lblPortDevice", "", this);
}

void MainWindow::LayOutControls() {
    auto* top = new QHBoxLayout;
    top->addWidget(Named<QLabel>("lblProgram", "Program File:", this));
    top->addWidget(txtProg_, 1);
    top->addWidget(cmdBrowse_);

    auto* frame = Named<QGroupBox>("fraSettings", "Communication Settings", this);
    auto* grid = new QGridLayout(frame);
    const std::pair<const char*, const char*> labels[] = {
        {"lblPort", "COM Port:"},  {"lblSpeed", "Baud Rate:"}, {"lblParity", "Parity:"},
        {"lblData", "Data Bits:"}, {"lblStop", "Stop Bits:"},  {"lblTimeout", "Timeout:"}};
    const std::array<QComboBox*, 6> lists = Lists();
    for (int row = 0; row < 6; ++row) {
        grid->addWidget(Named<QLabel>(labels[row].first, labels[row].second, frame), row, 0);
        grid->addWidget(lists[row], row, 1);
    }
    grid->addWidget(portDevice_, 0, 2);
    grid->addWidget(Named<QLabel>("lblIRDel", "I-R Delay:", frame), 6, 0);
    auto* delayRow = new QHBoxLayout;
    delayRow->addWidget(txtIRDelay_);
    delayRow->addWidget(Named<QLabel>("lblIRDelay2", "(0-1000)", frame));
    delayRow->addStretch(1);
    grid->addLayout(delayRow, 6, 1, 1, 2);
    auto* checks = new QHBoxLayout;
    checks->addWidget(chkBCC_);
    checks->addWidget(chkSeq_);
    checks->addStretch(1);
    grid->addLayout(checks, 7, 0, 1, 3);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdSend_);
    buttons->addWidget(cmdAbout_);
    buttons->addWidget(cmdExit_);

    auto* column = new QVBoxLayout(this);
    column->addLayout(top);
    column->addWidget(frame);
    column->addLayout(buttons);
}

void MainWindow::OrderTabs() {
    setTabOrder(txtProg_, cmdBrowse_);
    QWidget* order[] = {cmdBrowse_, cboPort_,  cboSpeed_, cboParity_, cboData_,
                        cboStop_,   cboTime_,  chkBCC_,   chkSeq_,    txtIRDelay_,
                        cmdSend_,   cmdAbout_, cmdExit_};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
}

// Load: the first entry of each list, and the ports present beside the COM list.
void MainWindow::Load() {
    for (QComboBox* list : Lists()) {
        list->setCurrentIndex(0);
    }
    portDevice_->setMaximumWidth(portDevice_->fontMetrics().averageCharWidth() * kDeviceChars);
    ShowPorts();
}

void MainWindow::ConnectControls() {
    connect(cboPort_, &QComboBox::currentIndexChanged, this, &MainWindow::ShowPortDevice);
    connect(cmdBrowse_, &QPushButton::clicked, this, &MainWindow::OnBrowse);
    connect(cmdSend_, &QPushButton::clicked, this, &MainWindow::OnSend);
    connect(cmdAbout_, &QPushButton::clicked, this, [this] { showAbout_(this); });
    connect(cmdExit_, &QPushButton::clicked, this, &MainWindow::OnExit);
}

MainWindowChoices MainWindow::Choices() const {
    MainWindowChoices c;
    c.program = txtProg_->text();
    c.portIndex = cboPort_->currentIndex();
    c.speed = cboSpeed_->currentText();
    c.parity = cboParity_->currentText();
    c.dataBits = cboData_->currentText();
    c.stopBits = cboStop_->currentText();
    c.timeoutIndex = cboTime_->currentIndex();
    c.bcc = chkBCC_->isChecked();
    c.sequence = chkSeq_->isChecked();
    c.irDelay = txtIRDelay_->text();
    return c;
}

void MainWindow::SetPortLister(PortLister lister) {
    listPorts_ = std::move(lister);
    ShowPorts();
}

// Entries of ports present, or of devices named by QUENLO_COMn, show what they open, so a USB
// adapter's users know what to pick; the others hold their device in the tool tip alone.
void MainWindow::ShowPorts() {
    const std::vector<SerialPortFacts> present = listPorts_();
    portDevices_ = PortDevices(present);
    const std::vector<PortRow> rows = ListPorts(present);
    for (int n = 1; n <= kPorts; ++n) {
        const QString device = QString::fromStdString(portDevices_[n - 1]);
        QString detail;
        for (const PortRow& row : rows) {
            const auto& numbers = row.portNumbers;
            if (std::find(numbers.begin(), numbers.end(), n) != numbers.end()) {
                const std::string& description = row.facts.description;
                detail = device + QString::fromStdString(
                                      description.empty() ? "" : " (" + description + ")");
            }
        }
        if (detail.isEmpty() && !ProcessEnvironment("QUENLO_COM" + std::to_string(n)).empty()) {
            detail = device;
        }
        cboPort_->setItemData(n - 1, detail, kPortDetailRole);
        cboPort_->setItemData(n - 1, detail.isEmpty() ? device : detail, Qt::ToolTipRole);
    }
    // The opened list is as wide as its widest entry with its device.
    QAbstractItemView* view = cboPort_->view();
    view->setMinimumWidth(view->sizeHintForColumn(0) +
                          view->verticalScrollBar()->sizeHint().width());
    ShowPortDevice(cboPort_->currentIndex());
}

// A long device path (an adapter's by-id name, a pseudo-terminal's link) would widen the window:
// the label beside the list shortens it in the middle and its tool tip holds it whole.
void MainWindow::ShowPortDevice(int index) {
    if (index < 0 || index >= static_cast<int>(portDevices_.size())) {
        return;
    }
    const QString device = QString::fromStdString(portDevices_[index]);
    portDevice_->setText(portDevice_->fontMetrics().elidedText(device, Qt::ElideMiddle,
                                                               portDevice_->maximumWidth()));
    portDevice_->setToolTip(device);
}

bool MainWindow::Quit() {
    return host_.AskYesNo("BHT Quenlo", "Are you sure you wish to exit this application?");
}

void MainWindow::OnExit() {
    if (!Quit()) {
        return;
    }
    if (sendInProgress_) {
        // The run ends on its own path first (port closed, nothing half-written); Send's click
        // then ends the program.
        exitAfterRun_ = true;
        if (transferWindow_ != nullptr) {
            transferWindow_->Abandon();
        }
        return;
    }
    EndProgram();
}

void MainWindow::EndProgram() {
    QApplication::closeAllWindows();
    QApplication::quit();
}

void MainWindow::ShowClickFailure(const std::exception& failure) {
    const auto* runtime = dynamic_cast<const RuntimeError*>(&failure);
    const std::string text =
        runtime != nullptr ? "Error " + std::to_string(runtime->number()) + ": " + runtime->text()
                           : std::string("Error 5: ") + failure.what();
    host_.ShowMessage("Error", text, MessageIcon::kCritical);
}

void MainWindow::OnBrowse() {
    try {
        const auto chosen =
            chooseFile_(this, "Select BHT Program File", txtProg_->text(), FileFilters());
        if (chosen) {
            txtProg_->setText(*chosen);
        }
    } catch (const std::exception& failure) {
        ShowClickFailure(failure);
    }
}

void MainWindow::OnSend() {
    if (sendInProgress_) {
        return;
    }
    try {
        const MainWindowChoices choices = Choices();
        if (const auto refusal = CheckChoices(choices)) {
            host_.ShowMessage(ToEngine(refusal->title), ToEngine(refusal->text),
                              MessageIcon::kExclamation);
            return;
        }
        const std::string commandLine = BuildCommandLine(choices);
        const std::string asGiven = BuildOptionLineAsGiven(choices);
        sendInProgress_ = true;
        cmdSend_->setEnabled(false);
        struct Done {
            MainWindow* window;
            ~Done() {
                window->sendInProgress_ = false;
                window->cmdSend_->setEnabled(true);
            }
        } done{this};
        runner_(commandLine, asGiven);
    } catch (const std::exception& failure) {
        ShowClickFailure(failure);
    }
    if (exitAfterRun_) {
        EndProgram();
    }
}

void MainWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // During a transfer the transfer window stays in front.
    if (sendInProgress_ && transferWindow_ != nullptr && transferWindow_->isVisible()) {
        QTimer::singleShot(0, transferWindow_, [w = transferWindow_] {
            w->raise();
            w->activateWindow();
        });
    }
}

}  // namespace quenlo
