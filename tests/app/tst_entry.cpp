// The calling sequence as typed: what is read of it, or why it is rejected.
#include "Check.h"
#include "app/CallingSequence.h"

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

int main(int argc, char **argv) { return Check::run(argc, argv); }
