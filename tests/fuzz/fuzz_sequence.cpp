// Any command line: read or rejected with a reason, no comma in a field nor blank at a trimmed one's ends, the device
// looked up at most once, and what a terminal or an engine is shown of it one line.
#include "Fuzz.h"
#include "app/CallingSequence.h"
#include "app/Report.h"
#include "base/TextRules.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    int lookUps = 0;
    const auto read = CallingSequence::read(text, [&](const std::string &name) {
        FUZZ_CHECK(++lookUps == 1 && !name.empty() && name == TextRules::trimSpaces(name));
        return Addresses::LookUp {};
    });
    if (const auto *rejected = std::get_if<CallingSequence::Rejected>(&read)) {
        FUZZ_CHECK(!rejected->why.empty());
        return 0;
    }
    const auto &request = std::get<CheckRequest>(read);
    for (const std::string *field :
        { &request.strDeviceName, &request.strPort, &request.strCommand, &request.strMailServer }) {
        FUZZ_CHECK(field->find(',') == std::string::npos && *field == TextRules::trimSpaces(*field));
    }
    FUZZ_CHECK(!request.strDeviceName.empty() && !request.strPort.empty() && !request.strTimeout.empty());
    FUZZ_CHECK(request.strTimeout.find(',') == std::string::npos && request.strArgument.find(',') == std::string::npos);
    const std::string &recipients = request.strRecipients; // each entry without blanks at its ends
    FUZZ_CHECK(recipients == TextRules::trimSpaces(recipients) && recipients.find(" ,") == std::string::npos
        && recipients.find(", ") == std::string::npos);
    Report::Check check;
    check.device = request.strDeviceName;
    check.port = request.strPort;
    check.portUsable = TextRules::toPortNumber(request.strPort).has_value();
    for (const bool accepted : { true, false }) {
        check.outcome.accepted = accepted;
        for (const std::string &line : { Report::terminalLine(check), Report::pluginVerdict(check).line })
            FUZZ_CHECK(TextRules::blankControls(line) == line);
        const std::string plugin = Report::pluginVerdict(check).line;
        FUZZ_CHECK(plugin.find('|') == plugin.rfind('|')
            && (plugin.find('|') != std::string::npos) == (accepted && check.performed()));
    }
    return 0;
}
