#include "ui/option_line.h"

#include <QRegularExpression>

#include "base/number_text.h"
#include "base/text.h"
#include "ui/ui_text.h"

namespace quenlo {

namespace {
constexpr double kMaxIrDelay = 1000.0;
const char* const kTimeoutOptions[] = {"+T30 ", "+T60 ", "+T90 ", "+T120 ", "+T0 "};
}  // namespace

std::optional<double> NumericValue(const QString& text) {
    // Only what the engine reads whole: "1e3" would reach it as 1. ASCII digits only, as the
    // engine knows no others.
    static const QRegularExpression number(R"(^[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)$)");
    const QString trimmed = text.trimmed();
    if (!number.match(trimmed).hasMatch()) {
        return std::nullopt;
    }
    return LeadingNumber(ToEngine(trimmed));
}

std::optional<Refusal> CheckChoices(const MainWindowChoices& c) {
    if (c.program.isEmpty()) {
        return Refusal{"Missing Information", "A program file has not been selected!"};
    }
    static const QStringList kinds = {"PD4", "FN4", "PD3", "FN3", "CAB"};
    // Only the last three characters: the engine checks the rest of the name.
    if (!kinds.contains(c.program.right(3).toUpper())) {
        return Refusal{"Invalid Information", "An invalid file has been selected!"};
    }
    const auto delay = NumericValue(c.irDelay);
    if (!delay || *delay < 0 || *delay > kMaxIrDelay) {
        return Refusal{"I-R Delay invalid", "The I-R Delay must be a number between 0 and 1000"};
    }
    return std::nullopt;
}

std::string BuildCommandLine(const MainWindowChoices& c) {
    return UpperCase(ToEngine(QString::fromStdString(BuildOptionLineAsGiven(c))));
}

std::string BuildOptionLineAsGiven(const MainWindowChoices& c) {
    QString s;
    s += "+P" + QString::number(c.portIndex) + " ";
    s += "+B" + c.speed + " ";
    s += "+P" + c.parity.left(1) + " ";
    s += "+D" + c.dataBits.left(1) + " ";
    s += "+S" + c.stopBits.left(1) + " ";
    if (c.timeoutIndex >= 0 && c.timeoutIndex < 5) {
        s += kTimeoutOptions[c.timeoutIndex];
    }
    s += c.bcc ? "+PB " : "-PB ";
    s += c.sequence ? "+SN " : "-SN ";
    const auto delay = NumericValue(c.irDelay);
    if (delay && *delay > 0) {
        s += "+IRD" + c.irDelay.trimmed() + " ";
    }
    // A path with a space is one token, quoted.
    const QString program = c.program.contains(' ') ? '"' + c.program + '"' : c.program;
    return (program + " " + s).toStdString();
}

}  // namespace quenlo
