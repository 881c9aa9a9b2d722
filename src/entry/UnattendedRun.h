#pragma once

#include "actions/MailSender.h"
#include "entry/CallingSequence.h"
#include "probes/TcpProbe.h"

#include <QString>

// One check from the calling sequence, reported in the result logs; never
// shows anything and never reads or writes the stored settings.
class UnattendedRun {
public:
    enum class Outcome { Available, Unavailable, Rejected };

    UnattendedRun();

    Outcome run(const QString &argumentText);

private:
    bool check(const CheckRequest &request);

    TcpProbe m_probe;
    MailSender m_mailSender;
};
