#pragma once

#include <QString>
#include <string>

namespace quenlo {

// Engine texts are single-byte ISO 8859-1.
inline QString FromEngine(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string ToEngine(const QString& text) {
    return text.toLatin1().toStdString();
}

}  // namespace quenlo
