#pragma once

#include <QString>

// The hand-over place between the mail message and the SMTP client: a text
// kept inside this process only, so sending a mail never touches the user's
// system clipboard.
namespace TextStore {

void clear();
void put(const QString &text);
QString read();

} // namespace TextStore
