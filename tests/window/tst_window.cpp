// Runs the window test class named first on the command line, or with
// "--picture FILE" draws the window as it first opens, for the README.
#include "WindowTesting.h"
#include "window/frmOstrel.h"

#include <QMap>

static auto &classes()
{
    static QMap<QString, std::function<std::unique_ptr<QObject>()>> all;
    return all;
}

bool WindowTesting::add(const char *name, std::function<std::unique_ptr<QObject>()> make)
{
    return classes().insert(QLatin1String(name), std::move(make)), true;
}

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    application.setAttribute(Qt::AA_Use96Dpi);
    const QString first = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (first == QLatin1String("--picture") && argc == 3) {
        const TemporarySettings noSettings;
        frmOstrel form;
        form.Form_Load();
        return QTest::qWaitForWindowExposed(&form) && form.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    if (!classes().contains(first))
        qFatal("usage: tst_window {%s} [test options] | --picture FILE", qPrintable(classes().keys().join('|')));
    argv[1] = argv[0];
    return QTest::qExec(classes().value(first)().get(), argc - 1, argv + 1);
}
