#include "entry/Main.h"

#include "actions/ResultLogs.h"
#include "entry/ArgumentText.h"
#include "entry/Display.h"
#include "entry/HelpText.h"
#include "entry/UnattendedRun.h"
#include "entry/WindowModule.h"

#include <QCoreApplication>
#include <cstdio>
#include <exception>

namespace {

int showHelp(char *programName)
{
    if (Display::visible()) {
        QString error;
        if (WindowModule::run(WindowModule::Request::HelpBox, programName, &error))
            return 0;
    }
    std::fputs(qPrintable(HelpText::text() + QLatin1Char('\n')), stdout);
    return 0;
}

// With no display there is no message box to carry the failure.
int reportStartupFailure(const QString &description)
{
    std::fputs(qPrintable(QStringLiteral("Error loading main form, ") + description + QLatin1Char('\n')),
               stderr);
    return 1;
}

int openCheckWindow(char *programName)
{
    QString error;
    if (!Display::available(&error))
        return reportStartupFailure(error);
    if (const auto exitCode = WindowModule::run(WindowModule::Request::CheckWindow, programName, &error))
        return *exitCode;
    return reportStartupFailure(error);
}

int runUnattended(int argc, char **argv, const QString &argumentText)
{
    QCoreApplication application(argc, argv);
    try {
        UnattendedRun().run(argumentText);
    } catch (const std::exception &failure) {
        modCommand::Log_Error(QStringLiteral("Error loading main form. ")
                              + QString::fromLocal8Bit(failure.what()));
    }
    return 0;
}

} // namespace

namespace modCommand {

int Main(int argc, char **argv)
{
    const QString argumentText = ArgumentText::fromArguments(argc, argv);
    if (argumentText.contains(QStringLiteral("/?")))
        return showHelp(argv[0]);
    if (argumentText.isEmpty())
        return openCheckWindow(argv[0]);
    return runUnattended(argc, argv, argumentText);
}

} // namespace modCommand
