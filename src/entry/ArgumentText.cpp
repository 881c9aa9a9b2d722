#include "entry/ArgumentText.h"

#include <QStringList>

namespace ArgumentText {

QString fromArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments.join(QLatin1Char(' '));
}

} // namespace ArgumentText
