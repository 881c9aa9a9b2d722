#pragma once

#include <QString>
#include <string>
#include <string_view>

// The core's rules read and give UTF-8; the Qt side converts at this edge.
namespace Utf8 {

inline std::string from(const QString &text) { return text.toStdString(); }
inline QString to(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

} // namespace Utf8
