#pragma once

#include <QString>
#include <optional>
#include <string>

namespace quenlo {

// What the main window's controls say, in the terms the option line needs.
struct MainWindowChoices {
    QString program;       // txtProg
    int portIndex = 0;     // cboPort, counted from 0
    QString speed;         // cboSpeed text
    QString parity;        // cboParity text
    QString dataBits;      // cboData text
    QString stopBits;      // cboStop text
    int timeoutIndex = 0;  // cboTime
    bool bcc = true;       // chkBCC
    bool sequence = true;  // chkSeq
    QString irDelay;       // txtIRDelay
};

// The number a text box holds, as the engine will read it from the option line: blanks around
// it, an optional sign, digits and a decimal fraction. Nothing for any other text (an exponent,
// an empty box), which the engine would read differently or not at all.
std::optional<double> NumericValue(const QString& text);

// The refusal of the Send checks, in order: title and text of the message; nothing when the
// choices may be sent.
struct Refusal {
    QString title;
    QString text;
};
std::optional<Refusal> CheckChoices(const MainWindowChoices& choices);

// The engine's option line for the choices: the file path, one space, the options each followed
// by a space, all in upper case; single-byte text.
std::string BuildCommandLine(const MainWindowChoices& choices);
// The same line as typed (UTF-8, letter case kept), which the engine opens the file by.
std::string BuildOptionLineAsGiven(const MainWindowChoices& choices);

}  // namespace quenlo
