#pragma once

#include <QDateTime>
#include <QString>

// The outcome of an unattended run, in "success.log" and "error.log" beside
// the program. Every failure to write is silent: the run goes on.
namespace modCommand {

// Replaces "success.log" with one line.
void Log_Success(const QString &strMessage);
// Appends one line to "error.log".
void Log_Error(const QString &strMessage);

} // namespace modCommand

namespace ResultLog {

inline const QString kSuccessLog = QStringLiteral("success.log");
inline const QString kErrorLog = QStringLiteral("error.log");

// The folder that holds the program's own executable.
QString programFolder();

// Local date, a blank, local time: "2026-12-06 16:40:01".
QString timeStamp(const QDateTime &when);

// One line: time stamp, tab, message with its control characters blanked,
// CR LF. Appending goes only into a regular file reached without a link;
// replacing writes a new file beside the log and renames it over the log.
// Either way the line leaves in one write, so runs that overlap never tear
// each other's lines.
void writeLine(const QString &path, const QString &message, bool append);

// Removes the log's own directory entry (a link, never what it points at).
void remove(const QString &path);

} // namespace ResultLog
