#pragma once

#include "platform/qt_event_loop.h"
#include "platform/system_host.h"

namespace quenlo {

// The host of the desktop loader: waits in the Qt event loop, which keeps the windows alive
// during a transfer, and modal message boxes over the active window.
class DesktopHost : public SystemHost {
  public:
    void Yield(std::chrono::milliseconds maxWait) override;
    LocalDateTime Now() override;
    void ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& title, const std::string& text) override;

  private:
    QtEventLoopWait wait_;
};

}  // namespace quenlo
