#include "ui/about_box.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "base/host.h"
#include "ui/named_widget.h"
#include "ui/sys_info.h"

namespace quenlo {

const char* const AboutBox::kWebAddress = "https://www.marrowdeck.example/quenlo";

namespace {

constexpr const char* kAppTitle = "Quenlo";

// A handheld with a screen and keys: the product's mark.
QPixmap Logo() {
    QPixmap logo(48, 64);
    logo.fill(Qt::transparent);
    QPainter paint(&logo);
    paint.setRenderHint(QPainter::Antialiasing);
    paint.setBrush(QColor(0x2B, 0x4C, 0x7E));
    paint.setPen(Qt::NoPen);
    paint.drawRoundedRect(4, 2, 40, 60, 6, 6);
    paint.setBrush(QColor(0xB8, 0xD8, 0xB0));
    paint.drawRect(10, 8, 28, 20);
    paint.setBrush(QColor(0xE0, 0xE0, 0xE0));
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            paint.drawRect(11 + col * 9, 34 + row * 8, 7, 5);
        }
    }
    return logo;
}

}  // namespace

AboutBox::AboutBox(QWidget* parent, Host* host) : QDialog(parent), host_(host) {
    setObjectName("frmAbout");
    setModal(true);
    setWindowTitle(QString("About ") + kAppTitle);

    auto* image = Named<QLabel>("Image1", "", this);
    image->setPixmap(Logo());
    auto* title = Named<QLabel>("lblTitle", QString("BHT ") + kAppTitle, this);
    QFont big = title->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    title->setFont(big);
    auto* version = Named<QLabel>(
        "lblVersion",
        QString("Version %1.%2.%3 - 30th January 2006").arg(kMajor).arg(kMinor).arg(kRevision),
        this);
    auto* description =
        Named<QLabel>("lblDescription",
                      QString("The BHT Quenlo from Marrowdeck is the easy way to load ") +
                          "your DENSO BHT with a new program.",
                      this);
    description->setWordWrap(true);
    auto* visit = Named<QLabel>("Label2", "Visit us at:", this);
    auto* link = Named<QLabel>("lblLink", QString("<a href=\"%1\">%1</a>").arg(kWebAddress), this);
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    link->setOpenExternalLinks(false);
    connect(link, &QLabel::linkActivated, this,
            [](const QString& address) { QDesktopServices::openUrl(QUrl(address)); });

    auto* ok = Named<QPushButton>("cmdOK", "OK", this);
    ok->setDefault(true);
    auto* sysInfo = Named<QPushButton>("cmdSysInfo", "&System Info...", this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(sysInfo, &QPushButton::clicked, this,
            [this] { StartSysInfo([this] { ShowSysInfoUnavailable(); }); });

    auto* texts = new QVBoxLayout;
    texts->addWidget(title);
    texts->addWidget(version);
    texts->addWidget(description);
    auto* linkRow = new QHBoxLayout;
    linkRow->addWidget(visit);
    linkRow->addWidget(link, 1);
    texts->addLayout(linkRow);
    auto* top = new QHBoxLayout;
    top->addWidget(image, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(sysInfo);
    buttons->addStretch(1);
    top->addLayout(buttons);
    setLayout(top);
    resize(460, 170);
}

void AboutBox::ShowSysInfoUnavailable() {
    const char* text = "System Information Is Unavailable At This Time";
    if (host_ != nullptr) {
        host_->ShowMessage(kAppTitle, text, MessageIcon::kNone);
    } else {
        QMessageBox box(QMessageBox::NoIcon, kAppTitle, text, QMessageBox::Ok, this);
        box.exec();
    }
}

}  // namespace quenlo
