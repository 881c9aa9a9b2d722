#include "entry/Version.h"

namespace Version {

QString title() { return QStringLiteral("Ostrel"); }

QString number()
{
    return QStringLiteral("%1.%2.%3").arg(OSTREL_VERSION_MAJOR).arg(OSTREL_VERSION_MINOR).arg(OSTREL_VERSION_PATCH);
}

QString caption() { return title() + QLatin1Char(' ') + number(); }

} // namespace Version
