#include "ui/transfer_window.h"

#include <QCloseEvent>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/named_widget.h"
#include "ui/ui_text.h"

namespace quenlo {

namespace {

constexpr int kTimerIntervalMs = 3000;
constexpr int kPointSize = 8;
// 4275 by 2865 twips at 15 twips a pixel.
constexpr int kDesignWidth = 285;
constexpr int kDesignHeight = 191;

QLineEdit* ReadOnlyBox(const char* name, QWidget* parent) {
    auto* box = Named<QLineEdit>(name, parent);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    return box;
}

}  // namespace

TransferWindow::TransferWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("frmTarvos");
    setWindowTitle("Loading Program...");
    setAutoFillBackground(true);
    QPalette grey = palette();
    grey.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    setPalette(grey);
    resize(kDesignWidth, kDesignHeight);

    QFont font("MS Sans Serif");
    font.setPointSize(kPointSize);
    setFont(font);
    CreateControls();
    LayOutControls();
    ConnectControls();
    LoadDesignTexts();
}

void TransferWindow::CreateControls() {
    statusBox_ = ReadOnlyBox("StatusBox", this);
    fileBox_ = ReadOnlyBox("FileBox", this);
    recCntBox_ = ReadOnlyBox("RecCntBox", this);
    recordsBox_ = ReadOnlyBox("RecordsBox", this);
    progressBar_ = Named<QProgressBar>("ProgressBar1", this);
    progressBar_->setRange(0, 100);
    progressBar_->setTextVisible(false);
    complete_ = Named<QLabel>("complete", "", this);
    complete_->setMinimumWidth(36);
    msgLabel_ = Named<QLabel>("MsgLabel", "", this);
    // A reason can be long (a device path, the dialout advice): it wraps, and the window grows.
    reason_ = Named<QLabel>("lblReason", "", this);
    reason_->setWordWrap(true);
    reason_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    reason_->setMinimumWidth(260);
    commandButton_ = Named<QPushButton>("CommandButton", this);
    aboutButton_ = Named<QPushButton>("AboutButton", this);
    notice_ =
        Named<QLabel>("Label1", "Keep the handheld in place until the result is shown.", this);
    QFont narrow("Arial Narrow");
    narrow.setPointSize(kPointSize);
    notice_->setFont(narrow);
    ymodemTimer_ = Named<QTimer>("YModemTimer", this);
    ymodemTimer_->setInterval(kTimerIntervalMs);
}

void TransferWindow::LayOutControls() {
    auto* grid = new QGridLayout;
    grid->addWidget(Named<QLabel>("Label2", "I/O Status", this), 0, 0);
    grid->addWidget(statusBox_, 0, 1, 1, 3);
    grid->addWidget(Named<QLabel>("Label3", "File", this), 1, 0);
    grid->addWidget(fileBox_, 1, 1, 1, 3);
    grid->addWidget(Named<QLabel>("Label4", "Record", this), 2, 0);
    grid->addWidget(recCntBox_, 2, 1);
    grid->addWidget(Named<QLabel>("Label5", "Of", this), 2, 2, Qt::AlignCenter);
    grid->addWidget(recordsBox_, 2, 3);
    grid->addWidget(Named<QLabel>("Label6", "Complete", this), 3, 0);
    auto* bar = new QHBoxLayout;
    bar->addWidget(progressBar_, 1);
    bar->addWidget(complete_);
    grid->addLayout(bar, 3, 1, 1, 3);

    auto* rowMessage = new QHBoxLayout;
    rowMessage->addWidget(msgLabel_, 1);
    rowMessage->addWidget(commandButton_);
    auto* rowNotice = new QHBoxLayout;
    rowNotice->addWidget(notice_, 1);
    rowNotice->addWidget(aboutButton_);

    auto* column = new QVBoxLayout(this);
    column->addLayout(grid);
    column->addLayout(rowMessage);
    column->addWidget(reason_);
    column->addLayout(rowNotice);
}

void TransferWindow::ConnectControls() {
    connect(commandButton_, &QPushButton::clicked, this, [this] {
        if (events_ != nullptr) {
            events_->CommandButtonClicked();
        }
    });
    connect(ymodemTimer_, &QTimer::timeout, this, [this] {
        if (events_ != nullptr) {
            events_->TimerTicked();
        }
    });
}

void TransferWindow::closeEvent(QCloseEvent* event) {
    if (events_ != nullptr) {
        event->ignore();
        events_->CommandButtonClicked();
        return;
    }
    QWidget::closeEvent(event);
}

void TransferWindow::LoadDesignTexts() {
    for (QLineEdit* box : {statusBox_, fileBox_, recCntBox_, recordsBox_}) {
        box->clear();
    }
    complete_->clear();
    msgLabel_->clear();
    SetReason("");
    progressBar_->setValue(0);
    commandButton_->setText("&Cancel");
    // The button reads "About" once loaded; it has no action of its own.
    aboutButton_->setText("About");
    aboutButton_->setEnabled(true);
    ymodemTimer_->stop();
}

void TransferWindow::Show(TransferWindowEvents& events) {
    LoadDesignTexts();
    // A reason shown by the last run made the window taller.
    layout()->activate();
    resize(width(), std::max(kDesignHeight, minimumSizeHint().height()));
    abandoned_ = false;
    events_ = &events;
    show();
    raise();
    activateWindow();
}

void TransferWindow::Unload() {
    events_ = nullptr;
    ymodemTimer_->stop();
    hide();
}

void TransferWindow::SetStatus(const std::string& text) {
    statusBox_->setText(FromEngine(text));
}
void TransferWindow::SetFile(const std::string& text) {
    fileBox_->setText(FromEngine(text));
}
void TransferWindow::SetRecordCount(const std::string& text) {
    recCntBox_->setText(FromEngine(text));
}
void TransferWindow::SetRecords(const std::string& text) {
    recordsBox_->setText(FromEngine(text));
}
void TransferWindow::SetProgress(int percent) {
    progressBar_->setValue(percent);
}
void TransferWindow::SetComplete(const std::string& text) {
    complete_->setText(FromEngine(text));
}
void TransferWindow::SetMessage(const std::string& text) {
    msgLabel_->setText(FromEngine(text));
}
void TransferWindow::SetMessageVisible(bool visible) {
    msgLabel_->setVisible(visible);
}
void TransferWindow::SetButtonCaption(const std::string& text) {
    commandButton_->setText(FromEngine(text));
    if (abandoned_ && text == "OK") {
        // The engine clears the cancel flag before it waits for OK: click once it waits.
        QTimer::singleShot(0, this, [this] {
            if (events_ != nullptr) {
                events_->CommandButtonClicked();
            }
        });
    }
}
void TransferWindow::SetReason(const std::string& text) {
    reason_->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    reason_->setVisible(!text.empty());
}
void TransferWindow::Abandon() {
    abandoned_ = true;
    if (events_ != nullptr) {
        events_->CommandButtonClicked();
    }
}
void TransferWindow::FocusButton() {
    commandButton_->setFocus();
}
void TransferWindow::SetAboutEnabled(bool enabled) {
    aboutButton_->setEnabled(enabled);
}
void TransferWindow::SetTimerEnabled(bool enabled) {
    if (enabled) {
        ymodemTimer_->start();
    } else {
        ymodemTimer_->stop();
    }
}

}  // namespace quenlo
