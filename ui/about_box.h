#pragma once

#include <QDialog>

namespace quenlo {

class Host;

// frmAbout: title, version, a sentence about the product, the maker's web address and the
// system-information button.
class AboutBox : public QDialog {
  public:
    // Messages go through the host when one is given, else to a message box of their own.
    explicit AboutBox(QWidget* parent = nullptr, Host* host = nullptr);

    static constexpr int kMajor = 1;
    static constexpr int kMinor = 3;
    static constexpr int kRevision = 0;
    static const char* const kWebAddress;

  private:
    Host* host_;
};

}  // namespace quenlo
