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
    std::fputs(qPrintable(QStringLiteral("Error loading main form, ") + description + QLatin1Char('\n')), stderr);
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

// Schedulers act on the exit status only when asked to: without
// OSTREL_EXIT_STATUS=1 every run ends with 0 and the logs are the outcome.
int exitStatus(UnattendedRun::Outcome outcome)
{
    if (qgetenv("OSTREL_EXIT_STATUS") != "1")
        return 0;
    switch (outcome) {
    case UnattendedRun::Outcome::Available:
        return 0;
    case UnattendedRun::Outcome::Rejected:
        return 2;
    case UnattendedRun::Outcome::Unavailable:
        break;
    }
    return 1;
}

int runUnattended(int argc, char **argv, const QString &argumentText)
{
    QCoreApplication application(argc, argv);
    auto outcome = UnattendedRun::Outcome::Unavailable;
    try {
        outcome = UnattendedRun().run(argumentText);
    } catch (const std::exception &failure) {
        modCommand::Log_Error(QStringLiteral("Error loading main form. ") + QString::fromLocal8Bit(failure.what()));
    }
    return exitStatus(outcome);
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
