#include "mail/TextStore.h"

namespace {

// Everything runs on the one user-interface thread; no lock is needed.
QString &stored()
{
    static QString text;
    return text;
}

} // namespace

namespace TextStore {

void clear()
{
    stored().clear();
    stored().squeeze();
}

void put(const QString &text) { stored() = text; }

QString read() { return stored(); }

} // namespace TextStore
