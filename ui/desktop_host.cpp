#include "ui/desktop_host.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/qt_event_loop.h"
#include "ui/ui_text.h"

namespace quenlo {

namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::kExclamation:
            return QMessageBox::Warning;
        case MessageIcon::kCritical:
            return QMessageBox::Critical;
        case MessageIcon::kQuestion:
            return QMessageBox::Question;
        case MessageIcon::kInformation:
            return QMessageBox::Information;
        case MessageIcon::kNone:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void DesktopHost::Yield(std::chrono::milliseconds maxWait) {
    wait_.Wait(maxWait);
}

LocalDateTime DesktopHost::Now() {
    return QtLocalNow();
}

void DesktopHost::ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) {
    QMessageBox box(BoxIcon(icon), FromEngine(title), FromEngine(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

bool DesktopHost::AskYesNo(const std::string& title, const std::string& text) {
    QMessageBox box(QMessageBox::Question, FromEngine(title), FromEngine(text),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    return box.exec() == QMessageBox::Yes;
}

}  // namespace quenlo
