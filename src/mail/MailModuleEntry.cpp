// Entry point of the mail module. The mail goes out on a thread of its own
// while the caller's waiter waits for its end, so an unattended run sleeps in
// poll() and the window's event loop runs on. A caller that gives up returns
// at once; the thread, never joined then, ends by its own bounds or with the
// process, so a resolver that never answers keeps nothing alive.
#include "base/Environment.h"
#include "base/TextRules.h"
#include "mail/MailAddress.h"
#include "mail/SmtpClientControl.h"
#include "modules/MailModule.h"

#include <memory>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

// What the sending thread hands back; whichever side ends last frees it.
struct Outcome {
    int done = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); // readable once `failure` is final
    std::atomic<bool> stop { false };
    std::atomic<bool> finished { false };
    std::string failure;
    ~Outcome() { ::close(done); }
};

MailBounds bounds()
{
    MailBounds bounds;
#ifdef OSTREL_TEST_HOOKS
    // Tests shorten every bound at once through a divisor, so that none waits them out.
    if (const auto divisor = TextRules::toWholeNumber(Environment::get("OSTREL_TEST_MAIL_TIME_SCALE"), 2, 1000)) {
        for (int *bound : { &bounds.readyMs, &bounds.replyMs, &bounds.verdictMs, &bounds.quitMs, &bounds.wholeMs })
            *bound /= *divisor; // at least 5 ms: the divisor is at most 1000
    }
#endif
    return bounds;
}

// One mail, composed by the message component and sent by the SMTP client
// on this thread; "" when the server took it for every recipient.
std::string SMTPSEND(const MailBounds &bounds, const std::atomic<bool> &stop, const std::string &strMailServer,
    const std::string &strFrom, const std::string &strSubject, const std::string &strBody,
    const std::string &strRecipients)
{
    MailMessageControl message;
    message.SetTo(strRecipients);
    message.SetFrom(strFrom);
    message.SetSubject(strSubject);
    message.SetText(strBody);
    SmtpClientControl client(bounds, stop);
    return client.Send(strMailServer, MailAddress::splitRecipients(strRecipients), message);
}

std::string sendWhileWaiting(const MailModule::Mail &mail, Wait::Waiter &waiter)
{
    static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    const auto outcome = std::make_shared<Outcome>();
    const MailBounds limits = bounds();
    if (!started || outcome->done < 0)
        return "the mail cannot be started";
    std::thread sender;
    try {
        sender = std::thread([outcome, mail, limits] {
            outcome->failure = SMTPSEND(
                limits, outcome->stop, mail.server, mail.senderName, mail.subject, mail.body, mail.recipients);
            outcome->finished = true;
            const uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write(outcome->done, &one, sizeof one);
        });
    } catch (const std::system_error &) {
        return "the mail cannot be started";
    }
    // The session keeps its own bounds; this one only guards against a session that overruns them.
    const Wait::Deadline limit = Wait::after(limits.readyMs + limits.wholeMs + limits.verdictMs);
    while (!outcome->finished && !waiter.abandoned() && waiter.wait(outcome->done, POLLIN, limit))
        continue;
    if (outcome->finished) {
        sender.join(); // it has ended: what TLS kept for the thread goes with it
        return outcome->failure;
    }
    sender.detach();
    outcome->stop = true;
    return waiter.abandoned() ? "the mail was stopped" : "the mail took over " + Wait::inSeconds(limits.wholeMs);
}

} // namespace

extern "C" __attribute__((visibility("default"))) int ostrel_mail_send(
    const MailModule::Mail *mail, Wait::Waiter *waiter, std::string *failure)
{
    *failure = sendWhileWaiting(*mail, *waiter);
    return failure->empty() ? 1 : 0;
}
