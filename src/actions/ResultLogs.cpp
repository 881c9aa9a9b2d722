#include "actions/ResultLogs.h"

#include "common/Installation.h"
#include "common/TextRules.h"
#include "common/Wait.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ResultLog {

namespace {

    const std::string kTemporaryPrefix = std::string(".") + kSuccessLog + ".";
    int g_folderError = 0; // why the folder of the logs could not be made

    std::string environment(const char *name)
    {
        const char *value = std::getenv(name);
        return value ? value : "";
    }

    // Says once per file and run why a line could not be written.
    void report(const std::string &path, const std::string &why)
    {
        static std::set<std::string> reported;
        if (reported.insert(path).second)
            std::fprintf(stderr, "ostrel: cannot write %s: %s\n", path.c_str(), why.c_str());
    }

    std::string reason(int error)
    {
        switch (error) {
        case ELOOP:
            return "a link stands in its place";
        default:
            return std::strerror(error);
        }
    }

    // Makes the folder and the ones above it that are missing.
    int makeFolder(const std::string &path, mode_t mode)
    {
        struct stat status { };
        if (path.empty() || ::stat(path.c_str(), &status) == 0)
            return 0;
        const size_t slash = path.find_last_of('/', path.size() - 2);
        if (slash != std::string::npos && slash > 0) {
            if (const int error = makeFolder(path.substr(0, slash), mode))
                return error; // the first folder that could not be made says why
        }
        return ::mkdir(path.c_str(), mode) == 0 || errno == EEXIST ? 0 : errno;
    }

    bool writeAll(int fd, const std::string &bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            done += static_cast<size_t>(written);
        }
        return true;
    }

    // Nonblocking, so a FIFO without a reader fails at once instead of holding
    // the run; a link is never followed, and only a plain file with no other name
    // is written (a hard link could lead anywhere). Other runs append under the
    // same lock, so a line cut short by a full disk is taken back before anyone
    // writes after it.
    void appendLine(const std::string &path, const std::string &line)
    {
        const int fd = ::open(
            path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0)
            return report(path, reason(errno));
        struct stat status { };
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1) {
            ::close(fd);
            return report(path, "it is not a plain file of its own");
        }
        // Our runs hold the lock for one write; anyone who can open the file can hold it for good, and then the
        // line goes out unlocked after a while rather than holding the run.
        const Wait::Deadline unlocked = Wait::after(2000);
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK && Wait::remainingMs(unlocked) > 0)
            ::usleep(1000);
        const off_t start = ::lseek(fd, 0, SEEK_END);
        if (!writeAll(fd, line)) {
            const int error = errno;
            [[maybe_unused]] const int truncated = ::ftruncate(fd, start);
            report(path, reason(error) + " (the line was lost)");
        }
        ::close(fd);
    }

    // The new file gets a name of its own that nobody can have planted (O_EXCL
    // fails on anything already there, a link included), then replaces the log in
    // one rename: readers and other runs see the old file or the new one, never a
    // half-written one.
    void replaceWith(const std::string &path, const std::string &line)
    {
        const size_t slash = path.find_last_of('/');
        const std::string stem = path.substr(0, slash + 1) + kTemporaryPrefix + std::to_string(::getpid()) + '.';
        std::random_device random;
        for (int attempt = 0; attempt < 8; ++attempt) {
            const std::string temporary = stem + std::to_string(random());
            const int fd
                = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
            if (fd < 0 && errno == EEXIST)
                continue;
            if (fd < 0)
                return report(path, reason(errno));
            const bool written = writeAll(fd, line);
            const int error = errno;
            const bool closed = ::close(fd) == 0;
            // Tests stop a run here, to kill it between writing and renaming.
            if (!environment("OSTREL_TEST_STOP_BEFORE_RENAME").empty())
                std::raise(SIGSTOP);
            if (!written || !closed) {
                ::unlink(temporary.c_str());
                return report(path, reason(written ? errno : error) + " (the line was lost)");
            }
            if (::rename(temporary.c_str(), path.c_str()) != 0) {
                const int renameError = errno;
                ::unlink(temporary.c_str());
                return report(path, reason(renameError));
            }
            return;
        }
        report(path, "no temporary file of a new name could be made (the line was lost)");
    }

    // A run killed between writing its temporary file and renaming it leaves
    // ".success.log.<pid>.<n>" behind; once that process is gone, so is the file.
    void removeLeftovers(const std::string &folder)
    {
        DIR *entries = ::opendir(folder.c_str());
        if (!entries)
            return;
        while (const dirent *entry = ::readdir(entries)) {
            const std::string name = entry->d_name;
            if (name.compare(0, kTemporaryPrefix.size(), kTemporaryPrefix) != 0)
                continue;
            const long pid = std::strtol(name.c_str() + kTemporaryPrefix.size(), nullptr, 10);
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
                ::unlinkat(::dirfd(entries), name.c_str(), 0);
        }
        ::closedir(entries);
    }

    std::string logPath(const char *name)
    {
        static const std::string where = folder();
        return where + '/' + name;
    }

} // namespace

std::string folder()
{
    const std::string chosen = environment("OSTREL_LOG_DIR");
    if (!chosen.empty())
        return chosen;
    if (!Installation::installed())
        return Installation::programFolder();
    std::string state = environment("XDG_STATE_HOME");
    if (state.empty() || state.front() != '/') {
        std::string home = environment("HOME");
        if (home.empty()) {
            const passwd *user = ::getpwuid(::getuid());
            home = user && user->pw_dir ? user->pw_dir : "";
        }
        state = home + "/.local/state";
    }
    state += "/ostrel";
    if (Installation::programFolder().empty()) // a copy of the program would have logged beside itself
        std::fprintf(
            stderr, "ostrel: the program's own folder is unknown (no /proc): its logs go to %s\n", state.c_str());
    return state;
}

std::string timeStamp()
{
    // One fixed form whatever the user's locale: scripts that read the logs
    // can split it, and it sorts by time.
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

void startRun()
{
    const std::string where = logPath("");
    const bool state = environment("OSTREL_LOG_DIR").empty() && Installation::installed();
    // The XDG folders are the user's own: nobody else may look in.
    g_folderError = makeFolder(where.substr(0, where.size() - 1), state ? 0700 : 0777);
    if (g_folderError)
        return;
    ::unlink(logPath(kSuccessLog).c_str());
    ::unlink(logPath(kErrorLog).c_str());
    removeLeftovers(where);
}

void writeLine(const std::string &path, const std::string &message, bool append)
{
    const std::string line = timeStamp() + '\t' + TextRules::blankControls(message) + "\r\n";
    if (g_folderError)
        report(path, reason(g_folderError));
    else if (append)
        appendLine(path, line);
    else
        replaceWith(path, line);
}

} // namespace ResultLog

namespace modCommand {

void Log_Success(const std::string &strMessage)
{
    ResultLog::writeLine(ResultLog::logPath(ResultLog::kSuccessLog), strMessage, false);
}

void Log_Error(const std::string &strMessage)
{
    ResultLog::writeLine(ResultLog::logPath(ResultLog::kErrorLog), strMessage, true);
}

} // namespace modCommand
