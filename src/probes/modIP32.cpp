#include "probes/modIP32.h"

#include "probes/TextRules.h"

namespace modIP32 {

bool Is_IPAddress(const QString &text)
{
    QString rest = text;
    for (int part = 0; part < 3; ++part) {
        const qsizetype dot = rest.indexOf(QLatin1Char('.'), 1);
        if (dot < 0 || !TextRules::isNumeric(rest.left(dot)))
            return false;
        rest = rest.mid(dot + 1);
    }
    return TextRules::isNumeric(rest);
}

} // namespace modIP32
