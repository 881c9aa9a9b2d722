#include "app/HelpText.h"

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

} // namespace HelpText
