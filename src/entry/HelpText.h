#pragma once

#include <QString>

namespace HelpText {

inline const QString kCaption = QStringLiteral("Ostrel Help");

// The calling sequence with two examples, nine lines joined by line feeds.
QString text();

} // namespace HelpText
