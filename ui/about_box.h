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

    // The project's version (CMakeLists.txt).
    static constexpr int kMajor = QUENLO_VERSION_MAJOR;
    static constexpr int kMinor = QUENLO_VERSION_MINOR;
    static constexpr int kRevision = QUENLO_VERSION_PATCH;
    static const char* const kWebAddress;

  private:
    // Where the system cannot show its information (all but Windows).
    void ShowSysInfoUnavailable();

    Host* host_;
};

}  // namespace quenlo
