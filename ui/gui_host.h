#pragma once

#include "platform/qt_host.h"

namespace quenlo {

// The host of the desktop loader: the Qt event loop, with modal message boxes.
class GuiHost : public QtHost {
  public:
    void ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& title, const std::string& text) override;
};

}  // namespace quenlo
