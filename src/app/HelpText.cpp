#include "app/HelpText.h"

#include "followup/ResultLog.h"

namespace HelpText {

std::string text()
{
    const std::string device = "fileserver1";
    const std::string recipient1 = "admin@example.com";
    const std::string recipient2 = "oncall@example.com";
    const std::string mailServer = "mail.example.com";
    return "Use the following calling sequence...\n"
           "\n"
           "OSTREL DeviceName,PortNumber,Timeout,PASS or FAIL,Command,Argument,MailServer,"
        + recipient1 + ',' + recipient2 + "...\n\nExample 1...(ping a server if port check fails)\nOSTREL " + device
        + ", 23, 15, FAIL, c:\\winnt\\ping.exe\n\nExample 2...(send an email if port check passes)\nOSTREL " + device
        + ", 23, 15, PASS, , , " + mailServer + ", " + recipient1;
}

std::string usage()
{
    return "Usage: ostrel DEVICE,PORT,TIMEOUT[,PASS|FAIL,COMMAND,ARGUMENT,MAILSERVER,\n"
           "                                  RECIPIENT,RECIPIENT...]\n"
           "       ostrel                 the check window (package ostrel-window)\n"
           "       ostrel --version\n"
           "Checks whether DEVICE accepts a TCP connection on PORT within TIMEOUT seconds.\n"
           "When the outcome is the one named (FAIL when none is), starts COMMAND with\n"
           "ARGUMENT and mails the result to each RECIPIENT through MAILSERVER.\n"
           "\n"
           "Examples:\n"
           "  ostrel fileserver1,22,5\n"
           "      Is SSH on fileserver1 there within 5 seconds?\n"
           "  ostrel fileserver1,22,5,FAIL,logger,SSH on fileserver1 is down\n"
           "      When it is not, logger writes that line to the system log.\n"
           "  ostrel fileserver1,22,5,FAIL,,,mail.example.com,admin@example.com\n"
           "      When it is not, a mail through mail.example.com tells admin@example.com.\n"
           "  OSTREL_EXIT_STATUS=plugin ostrel fileserver1,22,5\n"
           "      One line and its status for Nagios, Icinga 2 and other monitoring engines.\n"
           "\n"
           "Exit status: 0 whatever the outcome, unless set by\n"
           "  OSTREL_EXIT_STATUS=1       0 available, 1 not available, 2 sequence rejected\n"
           "  OSTREL_EXIT_STATUS=plugin  0 OK, 2 CRITICAL, 3 UNKNOWN\n"
           "Environment:\n"
           "  OSTREL_LOG_DIR=FOLDER      the folder of the logs\n"
           "  OSTREL_MAIL_FROM=ADDRESS   the sender of the result mail\n"
           "Logs: success.log or error.log, each run emptying both first, in\n"
           "  "
        + ResultLog::folder()
        + "\n"
          "More: man ostrel\n";
}

} // namespace HelpText
