// The calling sequence as typed, and what a run says of its check on a terminal and to a monitoring engine.
#include "Check.h"
#include "app/CallingSequence.h"
#include "app/Report.h"

#include <cerrno>

using TcpProbe::Failure;

CHECK_TEST(callingSequence)
{
    // device|looked up|port|timeout|trigger|command|argument|server|recipients, or why it was rejected.
    const struct {
        std::string text, read;
    } rows[] = {
        { "host 22", "the port and the timeout are missing; fields are separated by commas" },
        { "host,23", "the timeout is missing" },
        { "  ,23,15", "the device name is empty" },
        { "host, ,15", "the port is empty" },
        { "host,23,", "the timeout is empty" },
        { "  host  ,  23 ,15", "host|host|23|15|FAIL||||" },
        { "host,23, 15 ", "host|host|23| 15 |FAIL||||" },
        { "host,23,15,", "a comma ends the sequence after the timeout" },
        { "host,23,15,PASS,", "a comma ends the sequence after the trigger" },
        { "host,23,15,PASS,cmd,", "a comma ends the sequence after the command" },
        { "host,23,15,PASS,cmd,arg,", "a comma ends the sequence after the argument" },
        { "host,23,15,probably", "host|host|23|15|PASS||||" },
        // Blanks before the trigger's letter and around the command never count.
        { "host, 23, 15, PASS", "host|host|23|15|PASS||||" },
        { "host,23,15,,cmd", "host|host|23|15|FAIL|cmd|||" },
        { "host,23,15,FAIL, ping.sh /S ", "host|host|23|15|FAIL|ping.sh /S|||" },
        { "host,23,15,PASS, cmd , -c 1 ", "host|host|23|15|PASS|cmd| -c 1 ||" },
        { "host,23,15,PASS,cmd,arg,mail", "the mail server is not followed by a recipient" },
        { "host,23,15,PASS,cmd,arg,mail,  ", "the mail server is not followed by a recipient" },
        { "host,23,15,PASS,cmd,arg,,a@x,b@y", "host|host|23|15|PASS|cmd|arg||" },
        { "host, 23, 15, PASS, , , mail , a@x , b@y ,", "host|host|23|15|PASS|||mail|a@x,b@y" },
        { "host,23,15,FAIL,,,mail,a@x,,b@y", "host|host|23|15|FAIL|||mail|a@x,,b@y" },
        { " 10.0.0.1 ,23,15", "10.0.0.1|10.0.0.1|23|15|FAIL||||" },
        { "999.1.1.1,23,15", "999.1.1.1||23|15|FAIL||||" },
        { "10.0.0.1.5,23,15", "10.0.0.1.5||23|15|FAIL||||" },
        { "1.2.3.4.,23,15", "1.2.3.4.||23|15|FAIL||||" },
    };
    for (const auto &row : rows) {
        std::string lookedUp;
        const auto read = CallingSequence::read(row.text, [&lookedUp](const std::string &name) {
            lookedUp += name;
            return Addresses::LookUp {};
        });
        std::string shown;
        if (const auto *request = std::get_if<CheckRequest>(&read)) {
            const auto &addresses = request->addresses.addresses;
            shown = request->strDeviceName + '|' + (addresses.empty() ? lookedUp : addresses.front().text()) + '|'
                + request->strPort + '|' + request->strTimeout + '|' + (request->bolPass ? "PASS" : "FAIL") + '|'
                + request->strCommand + '|' + request->strArgument + '|' + request->strMailServer + '|'
                + request->strRecipients;
        } else {
            shown = std::get<CallingSequence::Rejected>(read).why;
        }
        CHECK_EQ(shown, row.read, row.text);
    }
}

// What a monitoring engine reads for each outcome.
CHECK_TEST(reports)
{
    const auto check = [](std::string port, std::string timeout, Failure failure, int error = 0) {
        Report::Check check;
        check.device = "10.0.0.5|x\n";
        check.port = port;
        check.timeout = timeout;
        check.portUsable = port != "5s" && port != "70000";
        check.timeoutUsable = timeout != "soon" && timeout != "32768";
        check.timeoutSeconds = check.timeoutUsable ? int16_t(std::stoi(timeout)) : 0;
        check.outcome = { failure == Failure::None, failure, error, 0.0041234 };
        return check;
    };
    // The terminal's causes are the same words (the built program's test reads them through a pseudo-terminal).
    const std::pair<Report::Check, std::string> rows[] = {
        { check("22", "15", Failure::None),
            "TCP OK - 0.004 second response time on 10.0.0.5 x  port 22|time=0.004123s;;;0.000000;15.000000" },
        { check("22", "5", Failure::Refused), "TCP CRITICAL - Connection refused on 10.0.0.5 x  port 22" },
        { check("22", "0", Failure::NoAnswer), "TCP CRITICAL - No answer within 15 s on 10.0.0.5 x  port 22" },
        { check("22", "5", Failure::NoRoute), "TCP CRITICAL - No route to the device on 10.0.0.5 x  port 22" },
        { check("22", "5", Failure::Other, EINVAL), "TCP CRITICAL - Invalid argument on 10.0.0.5 x  port 22" },
        { check("5s", "5", Failure::NoSuchHost), "TCP UNKNOWN - The port \"5s\" is not a number" },
        { check("22", "soon", Failure::NoSuchHost), "TCP UNKNOWN - The timeout \"soon\" is not a number" },
        { check("70000", "5", Failure::NoSuchHost), "TCP UNKNOWN - The port \"70000\" is out of range" },
        { check("22", "32768", Failure::NoSuchHost), "TCP UNKNOWN - The timeout \"32768\" is out of range" },
    };
    for (const auto &[checked, plugin] : rows)
        CHECK_EQ(Report::pluginVerdict(checked).line, plugin);
    CHECK_EQ(
        Report::terminalLine(rows[3].first), "Port 22 on device 10.0.0.5|x  is un-available. No route to the device.");
    CHECK_EQ(Report::pluginLine("the timeout is missing"),
        "TCP UNKNOWN - Incorrect calling sequence: the timeout is missing");
}

int main(int argc, char **argv) { return Check::run(argc, argv); }
