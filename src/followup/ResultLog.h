#pragma once

#include <string>

// The outcome of an unattended run, in "success.log" and "error.log". A line
// that cannot be written costs the run nothing but that line, and one line
// on standard error that names the file and the reason.
namespace ResultLog {

// Replaces "success.log" with one line.
void Log_Success(const std::string &strMessage);
// Appends one line to "error.log".
void Log_Error(const std::string &strMessage);

inline constexpr const char *kSuccessLog = "success.log";
inline constexpr const char *kErrorLog = "error.log";

// The folder of both logs: OSTREL_LOG_DIR when set; else, for an installed
// program, $XDG_STATE_HOME/ostrel (~/.local/state/ostrel); else the folder
// that holds the program. A program whose folder is unknown counts as
// installed, and this says so on standard error.
std::string folder();

// Local date, a blank, local time: "2026-12-06 16:40:01".
std::string timeStamp();

// Opens the folder of the logs, making it when it is missing (0755, the XDG
// folder 0700), and refuses it, saying so once on standard error, when
// someone other than the running user and root could change what it holds;
// every later step goes through that one descriptor. Then deletes both logs
// (a link itself, never its target) and the temporary files of runs that were
// killed before they could rename theirs: both logs then hold only this run's
// lines.
void startRun();

// One line into the log `name` (kSuccessLog, kErrorLog): time stamp, tab,
// message with its control characters blanked, CR LF, written whole or not at
// all, never open to others' writes. Appending goes only into a plain file
// with one name reached without a link; replacing writes a new file beside
// the log and renames it over the log. Either way runs that overlap never
// tear or mix each other's lines.
void writeLine(const char *name, const std::string &message, bool append);

} // namespace ResultLog
