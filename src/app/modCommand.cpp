#include "app/modCommand.h"

#include "app/ArgumentText.h"
#include "app/Display.h"
#include "app/HelpText.h"
#include "app/UnattendedRun.h"
#include "base/Version.h"
#include "modules/WindowModule.h"

#include <cstdio>

namespace {

int printHelp()
{
    std::puts(HelpText::text().c_str());
    return 0;
}

int showHelp(char *programName)
{
    std::string error;
    if (Display::visible() && WindowModule::run(WindowModule::Request::HelpBox, programName, HelpText::text(), &error))
        return 0;
    return printHelp();
}

// With no display there is no message box to carry the failure.
int reportStartupFailure(const std::string &description)
{
    std::fputs(("Error loading main form, " + description + '\n').c_str(), stderr);
    return 1;
}

int openCheckWindow(char *programName)
{
    if (!WindowModule::installed()) {
        std::fputs("ostrel: the check window is not installed; install the package ostrel-window "
                   "(apt install ostrel-window), or give a calling sequence (ostrel --help)\n",
            stderr);
        return 1;
    }
    std::string error;
    if (!Display::available(&error))
        return reportStartupFailure(error);
    if (const auto exitCode = WindowModule::run(WindowModule::Request::CheckWindow, programName, {}, &error))
        return *exitCode;
    return reportStartupFailure(error);
}

} // namespace

namespace modCommand {

int Main(int argc, char **argv)
{
    const std::string argumentText = ArgumentText::fromArguments(argc, argv);
    if (argumentText == "--help" || argumentText == "-h") {
        std::fputs(HelpText::usage().c_str(), stdout);
        return 0;
    }
    if (argumentText == "--version" || argumentText == "-V") {
        std::puts(("ostrel " + Version::number()).c_str());
        return 0;
    }
    if (argumentText.find("/?") != std::string::npos)
        return showHelp(argv[0]);
    if (argumentText.empty())
        return openCheckWindow(argv[0]);
    return UnattendedRun::run(argumentText);
}

} // namespace modCommand
